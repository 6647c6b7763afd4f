// Keeps this module's code mapped until the process ends.
//
// Lua unloads a C module when the state that loaded it closes, but DirectOutput keeps the addresses of
// the handlers we gave it and may call them later from its own thread; and a module unloaded with each
// state would build its process-wide singletons anew at every load. PinThisModule() is called when the
// module is first opened. It is idempotent and never fails outwardly: if the system refuses,
// nothing changes.
// Windows: GetModuleHandleExW with GET_MODULE_HANDLE_EX_FLAG_PIN.
// POSIX: dlopen of our own file with RTLD_NODELETE.
#pragma once

namespace vexlan::platform {
void PinThisModule();
}

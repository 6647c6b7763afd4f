// Loading the built module file the way Lua's loader does, for tests of what happens when Lua unloads it
// (and the memory it leaves behind).
// POSIX: dlopen, dlsym, dlclose, /proc/self/statm. Windows: LoadLibrary, GetProcAddress, FreeLibrary,
// K32GetProcessMemoryInfo.
#pragma once

#include <cstddef>

#include "platform/lua_api.h"

namespace vexlan::test {

// Loads the module file beside the simulated library; null when it cannot.
void* LoadModuleFile();
lua_CFunction ModuleOpener(void* module);
void UnloadModuleFile(void* module);
// Whether the module file is still mapped into the process.
bool ModuleFileLoaded();
// The process's resident (Windows: private) memory, to tell whether repeated loads leak.
size_t ProcessMemoryBytes();

}  // namespace vexlan::test

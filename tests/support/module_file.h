// Loading the built module file the way Lua's loader does, for tests of what happens when Lua unloads it.
// POSIX: dlopen, dlsym, dlclose. Windows: LoadLibrary, GetProcAddress, FreeLibrary.
#pragma once

#include "module/lua_api.h"

namespace vexlan::test {

// Loads the module file beside the simulated library; null when it cannot.
void* LoadModuleFile();
lua_CFunction ModuleOpener(void* module);
void UnloadModuleFile(void* module);
// Whether the module file is still mapped into the process.
bool ModuleFileLoaded();

}  // namespace vexlan::test

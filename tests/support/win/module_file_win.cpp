#include <windows.h>
// clang-format off
#include <psapi.h>
// clang-format on

#include <string>

#include "tests/support/directoutput_config.h"
#include "tests/support/module_file.h"

namespace vexlan::test {
namespace {
std::string ModulePath() {
  const std::string simulator = SimulatorPath();
  return simulator.substr(0, simulator.find_last_of("/\\") + 1) + "vexlan.dll";
}
}  // namespace

void* LoadModuleFile() { return LoadLibraryA(ModulePath().c_str()); }

lua_CFunction ModuleOpener(void* module) {
  return reinterpret_cast<lua_CFunction>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), "luaopen_vexlan")));
}

void UnloadModuleFile(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

bool ModuleFileLoaded() {
  HMODULE module = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, ModulePath().c_str(), &module) != FALSE;
}

size_t ProcessMemoryBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof counters))
    return 0;
  // The commit charge, which Windows also reports as PrivateUsage; Wine leaves PrivateUsage at 0.
  return counters.PagefileUsage;
}

}  // namespace vexlan::test

#include <dlfcn.h>

#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/directoutput_config.h"
#include "tests/support/module_file.h"

namespace vexlan::test {
namespace {
std::string ModulePath() {
  const std::string simulator = SimulatorPath();
  return simulator.substr(0, simulator.find_last_of('/') + 1) + "vexlan.so";
}
}  // namespace

void* LoadModuleFile() { return dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL); }
lua_CFunction ModuleOpener(void* module) { return reinterpret_cast<lua_CFunction>(dlsym(module, "luaopen_vexlan")); }
void UnloadModuleFile(void* module) { dlclose(module); }

bool ModuleFileLoaded() {
  void* module = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) return false;
  dlclose(module);
  return true;
}

size_t ProcessMemoryBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t total_pages = 0, resident_pages = 0;
  statm >> total_pages >> resident_pages;
  return resident_pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace vexlan::test

#include <dlfcn.h>

#include <cstdlib>

#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"

namespace vexlan::test {

std::string SimulatorPath() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&vexlan::sim::Flush), &info);
  return info.dli_fname != nullptr ? info.dli_fname : "";
}

void ConfigureDirectOutput(const std::string& path) { setenv("VEXLAN_DIRECTOUTPUT", path.c_str(), 1); }

void ConfigureDirectOutputRaw(const std::u16string& data) {
  std::string narrow;
  for (char16_t unit : data) narrow.push_back(static_cast<char>(unit));
  setenv("VEXLAN_DIRECTOUTPUT", narrow.c_str(), 1);
}

void RemoveDirectOutputConfiguration() { unsetenv("VEXLAN_DIRECTOUTPUT"); }

}  // namespace vexlan::test

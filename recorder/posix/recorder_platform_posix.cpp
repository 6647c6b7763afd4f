#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "recorder/recorder_platform.h"

namespace vexlan::recorder {
std::string ReadSetting(const char* variable, const char* /*registry_value*/) {
  const char* value = std::getenv(variable);
  return value != nullptr ? value : "";
}

void* OpenRealLibrary(const std::string& path) {
  return path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::FILE* CreateTraceFile(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

}  // namespace vexlan::recorder

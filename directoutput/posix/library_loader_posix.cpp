#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "directoutput/library_loader.h"

namespace vexlan::directoutput {
namespace {

std::string ConfiguredPath() {
  if (const char* from_environment = std::getenv("VEXLAN_DIRECTOUTPUT")) return from_environment;
  std::string path;
  if (FILE* file = std::fopen("/etc/vexlan/DirectOutput", "r")) {
    for (int c; (c = std::fgetc(file)) != EOF && c != '\n' && c != '\r';) path.push_back(static_cast<char>(c));
    std::fclose(file);
  }
  return path;
}

}  // namespace

void* OpenDirectOutputLibrary() {
  const std::string path = ConfiguredPath();
  if (path.empty()) return nullptr;
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindEntryPoint(void* library, const char* name) { return library == nullptr ? nullptr : dlsym(library, name); }

}  // namespace vexlan::directoutput

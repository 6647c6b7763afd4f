#include <dlfcn.h>
#include <link.h>
#include <elf.h>
#include <gnu/libc-version.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "directoutput/library_check.h"
#include "directoutput/library_loader.h"
#include "platform/lua_api.h"

namespace vexlan::directoutput {
namespace {

constexpr char kVariable[] = "VEXLAN_DIRECTOUTPUT";
constexpr char kSettingFile[] = "/etc/vexlan/DirectOutput";

std::string FirstLine(FILE* file) {
  std::string line;
  for (int c; (c = std::fgetc(file)) != EOF && c != '\n' && c != '\r';) line.push_back(static_cast<char>(c));
  return line;
}

std::string ConfiguredPath() {
  if (const char* from_environment = std::getenv(kVariable)) return from_environment;
  std::string path;
  if (FILE* file = std::fopen(kSettingFile, "r")) {
    path = FirstLine(file);
    std::fclose(file);
  }
  return path;
}

void Add(std::vector<CheckLine>* lines, const char* step, Verdict verdict, std::string text) {
  lines->push_back(CheckLine{step, verdict, std::move(text)});
}

// The configured path, or empty with a line saying why.
std::string CheckSetting(std::vector<CheckLine>* lines) {
  const std::string path = ConfiguredPath();
  const char* variable = std::getenv(kVariable);
  const std::string where = variable != nullptr ? std::string(kVariable) : std::string(kSettingFile);
  if (variable == nullptr && access(kSettingFile, F_OK) != 0) {
    Add(lines, "setting", Verdict::kFail, std::string("neither ") + kVariable + " nor " + kSettingFile +
        " names the DirectOutput library: set " + kVariable + " to the library's path");
  } else if (path.empty()) {
    Add(lines, "setting", Verdict::kFail, where + " is empty: it must hold the library's path");
  } else {
    Add(lines, "setting", Verdict::kOk, where + ": " + path);
  }
  return path;
}

// False with a line saying why when the file cannot be a 64-bit shared library.
bool CheckFile(const std::string& path, std::vector<CheckLine>* lines) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    Add(lines, "file", Verdict::kFail, "there is no file " + path + " (" + std::strerror(errno) +
        "): the setting names a file that is not there");
    return false;
  }
  if (S_ISDIR(status.st_mode)) {
    Add(lines, "file", Verdict::kFail, path + " is a folder: the setting must name the library itself");
    return false;
  }
  unsigned char header[EI_NIDENT + 4] = {};
  size_t got = 0;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    got = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
  }
  if (got < sizeof header || std::memcmp(header, ELFMAG, SELFMAG) != 0) {
    Add(lines, "file", Verdict::kFail, path + " is not a shared library (no ELF header)");
    return false;
  }
  if (header[EI_CLASS] != ELFCLASS64) {
    Add(lines, "file", Verdict::kFail, path + " is a 32-bit library: vexlan is 64-bit");
    return false;
  }
  const int type = header[EI_DATA] == ELFDATA2LSB ? header[EI_NIDENT] | header[EI_NIDENT + 1] << 8
                                                   : header[EI_NIDENT] << 8 | header[EI_NIDENT + 1];
  if (type != ET_DYN) {
    Add(lines, "file", Verdict::kFail, path + " is not a shared library (an object or a program)");
    return false;
  }
  Add(lines, "file", Verdict::kOk, "a 64-bit shared library of " + std::to_string(status.st_size) + " bytes");
  return true;
}

}  // namespace

void* OpenDirectOutputLibrary() {
  const std::string path = ConfiguredPath();
  if (path.empty()) return nullptr;
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindEntryPoint(void* library, const char* name) { return library == nullptr ? nullptr : dlsym(library, name); }

const char kSettingName[] = "VEXLAN_DIRECTOUTPUT (or else /etc/vexlan/DirectOutput)";

std::string LibraryFile(void* library) {
  link_map* map = nullptr;
  if (library == nullptr || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return {};
  return map->l_name;
}

std::string LibraryFileOfAddress(const void* address) {
  Dl_info info{};
  return dladdr(address, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

void* CheckConfiguredLibrary(std::vector<CheckLine>* lines) {
  const std::string path = CheckSetting(lines);
  if (path.empty() || !CheckFile(path, lines)) return nullptr;
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* error = dlerror();
    Add(lines, "load", Verdict::kFail, std::string("the library does not load: ") + (error != nullptr ? error : "no reason given"));
    return nullptr;
  }
  Add(lines, "load", Verdict::kOk, "loaded " + path);
  return library;
}

void CheckLuaHost(std::vector<CheckLine>* lines) {
  char program[4096] = {};
  const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  Dl_info lua{};
  // The program itself gives the Lua API when dladdr names no shared object (a bare program name).
  const bool found = dladdr(reinterpret_cast<void*>(&lua_pushstring), &lua) != 0 && lua.dli_fname != nullptr &&
                     std::strchr(lua.dli_fname, '/') != nullptr;
  Add(lines, "host", Verdict::kOk, std::string(length > 0 ? program : "(unknown program)") + ", its Lua in " +
      (found ? lua.dli_fname : "the program itself") + ", on the C library glibc " + gnu_get_libc_version() +
      ", the same as vexlan's");
}

}  // namespace vexlan::directoutput

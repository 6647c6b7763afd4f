// The steps that bring the DirectOutput library into the process, walked one by one and told in words a
// user can act on: what names the library, the file it names, and its load. Also what the Lua host is
// made of. For `vexlan.check`; the module's own loader (library_loader.h) reads the same setting.
//
//  CheckConfiguredLibrary: appends a line for each step, in order, up to the first that fails; returns
//    the loaded library (never unloaded) or null.
//  CheckLuaHost: appends lines about the program, the library that gives it the Lua API and the C
//    run-time that library uses, with what a difference from the module's own means.
// Windows: the registry value (its key in both registry views, type, length), the file's header
//   (a 64-bit DLL), LoadLibraryW and Windows' error text; the import tables of lua51.dll and the module.
// POSIX: VEXLAN_DIRECTOUTPUT or /etc/vexlan/DirectOutput, the file's ELF header, dlopen and dlerror; the
//   object that gives the Lua API.
#pragma once

#include <string>
#include <vector>

namespace vexlan::directoutput {

enum class Verdict { kOk, kFail, kNote };

struct CheckLine {
  std::string step;
  Verdict verdict;
  std::string text;
};

void* CheckConfiguredLibrary(std::vector<CheckLine>* lines);
void CheckLuaHost(std::vector<CheckLine>* lines);

}  // namespace vexlan::directoutput

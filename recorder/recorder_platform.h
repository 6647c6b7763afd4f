// The recorder's seam to the operating system.
//
//  ReadSetting: a setting's text, or "" when it is not set. POSIX: the environment variable `variable`.
//    Windows: the environment variable if it is set, else the value `registry_value` (REG_SZ) of
//    HKLM "SOFTWARE\Vexlan\DirectOutput", beside the module's own "DirectOutput" value ("": none).
//  CreateTraceFile: a file opened for binary writing, emptied, or null. fopen / _wfopen (UTF-8 names).
//  OpenRealLibrary: loads the library at `path` (UTF-8), or null. dlopen / LoadLibraryW. Never unloaded.
#pragma once

#include <cstdio>
#include <string>

namespace vexlan::recorder {

std::string ReadSetting(const char* variable, const char* registry_value);
std::FILE* CreateTraceFile(const std::string& path);
void* OpenRealLibrary(const std::string& path);

}  // namespace vexlan::recorder

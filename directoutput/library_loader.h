// The seam between the binding and the operating system's loader.
//
//  OpenDirectOutputLibrary: finds the configured DirectOutput library and loads it. Returns null when
//    nothing is configured, the configuration cannot be read, or the library does not load. Never
//    unloads anything: the library stays loaded until the process ends.
//  FindEntryPoint: the address exported under `name`, or null (also for a null library).
//  LibraryFile: the file a loaded library came from (UTF-8), empty for null.
//  LibraryFileOfAddress: the file of the loaded library that holds `address`.
//  kSettingName: where the configuration is, in words.
//
// Windows: HKLM "SOFTWARE\Vexlan\DirectOutput", value "DirectOutput" (at most 4096 bytes), LoadLibraryW,
//   GetProcAddress.
// POSIX: the path in VEXLAN_DIRECTOUTPUT, else the first line of /etc/vexlan/DirectOutput; dlopen, dlsym.
#pragma once

#include <string>

namespace vexlan::directoutput {

void* OpenDirectOutputLibrary();
void* FindEntryPoint(void* library, const char* name);
std::string LibraryFile(void* library);
std::string LibraryFileOfAddress(const void* address);
extern const char kSettingName[];

}  // namespace vexlan::directoutput

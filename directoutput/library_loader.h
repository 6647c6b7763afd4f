// The seam between the binding and the operating system's loader.
//
//  OpenDirectOutputLibrary: finds the configured DirectOutput library and loads it. Returns null when
//    nothing is configured, the configuration cannot be read, or the library does not load. Never
//    unloads anything: the library stays loaded until the process ends.
//  FindEntryPoint: the address exported under `name`, or null (also for a null library).
//
// Windows: HKLM "SOFTWARE\Vexlan\DirectOutput", value "DirectOutput" (at most 4096 bytes), LoadLibraryW,
//   GetProcAddress.
// POSIX: the path in VEXLAN_DIRECTOUTPUT, else the first line of /etc/vexlan/DirectOutput; dlopen, dlsym.
#pragma once

namespace vexlan::directoutput {

void* OpenDirectOutputLibrary();
void* FindEntryPoint(void* library, const char* name);

}  // namespace vexlan::directoutput

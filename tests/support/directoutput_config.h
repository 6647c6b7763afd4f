// Where tests tell the module to find its DirectOutput library.
// Windows: the real registry value HKLM "SOFTWARE\Vexlan\DirectOutput" / "DirectOutput".
// POSIX: the environment variable VEXLAN_DIRECTOUTPUT.
#pragma once

#include <string>

namespace vexlan::test {

// The path of the simulated library this process has loaded.
std::string SimulatorPath();
// Points the module at `path` (UTF-8).
void ConfigureDirectOutput(const std::string& path);
// Writes raw UTF-16 data as the configured value (Windows); the environment on POSIX.
void ConfigureDirectOutputRaw(const std::u16string& data);
// Removes the configuration altogether.
void RemoveDirectOutputConfiguration();

}  // namespace vexlan::test

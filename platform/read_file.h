// Reads a whole regular file named by a script (the host's multibyte text, as for the module's image
// files), up to a size limit.
// Windows: CreateFileW on the wide name. POSIX: open and read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexlan::platform {

// False (and `bytes` unspecified) when the file cannot be opened or read, is not a regular file, or
// holds more than `limit` bytes.
bool ReadFileBytes(const char* name, size_t limit, std::vector<uint8_t>* bytes);

}  // namespace vexlan::platform

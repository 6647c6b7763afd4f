// Reading a whole regular file on Windows, for the module's files by name and the image decoder's
// files, which it reads into memory of its own kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace vexlan::platform {

// Reads the regular file `name` (UTF-16), of at most `limit` bytes, into the block `place(size)` gives for
// its size (null when there is none: nothing is read). A file that grows meanwhile is read up to the size
// it had; one that shrinks, to its end. The bytes read, or nothing when the file cannot be opened or
// read, is not a regular file, or holds more than `limit` bytes.
std::optional<size_t> ReadRegularFile(const char16_t* name, size_t limit, const std::function<uint8_t*(size_t)>& place);

}  // namespace vexlan::platform

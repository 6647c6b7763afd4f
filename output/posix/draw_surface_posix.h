#pragma once

#include <cstdint>

namespace vexlan {

// What a POSIX canvas draws into: its bottom-up, 24-bit BGR pixel memory.
struct DrawSurface {
  uint8_t* pixels;
  int32_t width;
  int32_t height;
};

}  // namespace vexlan

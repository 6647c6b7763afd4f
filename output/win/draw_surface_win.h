#pragma once

#include <windows.h>

#include <cstdint>

namespace vexlan {

// What a Windows canvas draws into: its memory DC, with the DIB section selected, and the DIB's size.
// `bgr_rows` is the DIB's own memory when it is 24-bit with unpadded rows (bottom-up, `width` * 3 bytes
// apart), else nullptr; GDI drawing batched for the DC must be flushed before it is written.
struct DrawSurface {
  HDC dc;
  int width;
  int height;
  uint8_t* bgr_rows;
};

}  // namespace vexlan

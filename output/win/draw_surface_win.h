#pragma once

#include <windows.h>

namespace vexlan {

// What a Windows canvas draws into: its memory DC, with the DIB section selected, and the DIB's size.
struct DrawSurface {
  HDC dc;
  int width;
  int height;
};

}  // namespace vexlan

#pragma once

#include <windows.h>

namespace vexlan {

// What a Windows canvas draws into: its memory DC, with the DIB section selected.
struct DrawSurface {
  HDC dc;
};

}  // namespace vexlan

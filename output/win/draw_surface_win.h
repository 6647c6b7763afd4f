#pragma once

#include <windows.h>

namespace Gdiplus {
class GpBitmap;
}

namespace vexlan {

// What a Windows canvas draws into: its memory DC, with the DIB section selected.
struct DrawSurface {
  HDC dc;
};

// Places a picture that GDI+ already holds on `target` exactly as DrawImageFile places a decoded file
// (for pictures made in memory). GDI+ must be started by the caller, who keeps the picture.
void DrawGdiplusBitmap(DrawSurface* target, Gdiplus::GpBitmap* picture);

}  // namespace vexlan

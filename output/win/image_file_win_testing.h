// What tests use of the Windows image-file decoder beside its production interface.
#pragma once

#include "output/win/draw_surface_win.h"

namespace Gdiplus {
class GpBitmap;
}

namespace vexlan {

// Places a picture that GDI+ already holds on `target` exactly as DrawImageFile places a decoded file
// (for pictures made in memory). GDI+ must be started by the caller, who keeps the picture.
void DrawGdiplusBitmap(DrawSurface* target, Gdiplus::GpBitmap* picture);

}  // namespace vexlan

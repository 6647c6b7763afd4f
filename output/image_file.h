// Decoding an image file and stretching the whole picture onto a 320x240 surface.
//
// Windows: GDI+ (started on demand, shut down when no decoded image is alive), then StretchBlt in
//   COLORONCOLOR mode through a cache of four memory DCs.
// POSIX: gdk-pixbuf, then a nearest-neighbour copy that picks the same source pixels as StretchBlt.
// Colour values only: alpha is not applied. A file that cannot be decoded draws nothing.
#pragma once

#include <cstdint>

#include "directoutput/directoutput_api.h"
#include "output/image_canvas.h"

namespace vexlan {

void DrawImageFile(DrawSurface* target, const WideChar* file_name);

// Pictures larger than this (8192 x 8192) are not decoded: a corrupt or hostile header must not make
// a script wait for gigabytes to be allocated and filled.
inline constexpr int64_t kMaxDecodedPixels = int64_t{1} << 26;
// Sets the decoder's process-wide state up; called once while the module's file loads.
void ImageDecoderSetUp();

}  // namespace vexlan

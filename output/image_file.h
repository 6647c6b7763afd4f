// Decoding an image file and stretching the whole picture onto a 320x240 surface.
//
// Both platforms read the file whole (at most 64 MiB), take its format from its first bytes (PNG, JPEG,
// GIF, BMP, ICO or TIFF; nothing else) and decode it only when its headers promise no more work than
// the bound in output/image_header.h.
//
// Windows: GDI+ (started on demand, shut down when no decoded image is alive), then the same
//   nearest-neighbour copy straight from GDI+'s own rows for 24- and 32-bit RGB pictures, else a DIB and
//   StretchBlt in COLORONCOLOR mode through a cache of four memory DCs.
// POSIX: gdk-pixbuf, then a nearest-neighbour copy that picks the same source pixels as StretchBlt; a
//   JPEG of one sequential scan goes through the same JPEG library row by row, to the same image.
// Colour values only: alpha is not applied. A file that cannot be decoded draws nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "directoutput/directoutput_api.h"
#include "output/picture_surface.h"

namespace vexlan {

void DrawImageFile(DrawSurface* target, const WideChar* file_name);

// A decoded picture at its own size: rows top first, each pixel red, green, blue and alpha (straight).
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgba;
};

// Decodes the file (named in the host's multibyte text) whole, with its transparency, within the same
// bound as DrawImageFile. False when it cannot be read or decoded.
bool DecodePicture(const char* file_name, Picture* picture);

// Sets the decoder's process-wide state up; called once while the module's file loads.
void ImageDecoderSetUp();

}  // namespace vexlan

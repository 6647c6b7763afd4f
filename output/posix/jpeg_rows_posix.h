// JPEG files that hold one sequential scan, decoded with the JPEG library that gdk-pixbuf's own loader
// uses and placed on the surface row by row as they are decoded: the same device image as the loader's
// picture stretched whole, without a picture of the file's size (at 1920x1080, 6 MB to clear, fill and
// read back) and without the loader's notice after every row.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/image_header.h"
#include "output/posix/draw_surface_posix.h"

namespace vexlan {

// Whether a decoder that announces a picture of `width` x `height` reads the file as its headers
// promised; a debugging build stops where it does not, to show the file.
bool AnnouncedAsPromised(int width, int height, const ImageHeader& header);

enum class JpegRows { kDrawn, kFailed, kNotSequential };

// Decodes `file` as gdk-pixbuf's loader does when it is given the whole file at once and then closed:
// the same scaling, colour conversions and error handling, and for a file that stops short, the rest
// of the picture decoded from no data. kFailed: the loader would give no picture; the target is left
// as it was. kNotSequential: a progressive or multi-scan file, which this does not decode.
JpegRows DrawSequentialJpeg(const uint8_t* file, size_t size, const ImageHeader& header, DrawSurface* target);

}  // namespace vexlan

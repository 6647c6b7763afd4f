// Nearest-neighbour stretching of a whole picture onto the 320x240 device surface, picking the source
// pixels that GDI's StretchBlt picks in COLORONCOLOR mode, so that a lossless file gives the same device
// image on every platform.
#pragma once

#include <cstdint>

namespace vexlan {

enum class StretchAxis { kColumns, kRows };

// The source column (or row) that destination column (or row) `d` takes. Rows are counted bottom-up, in
// the order a DIB keeps them. Both axes step like a line drawn from one corner to the other: a stretched
// axis samples each destination pixel's centre, a shrunk one the last source pixel that falls on it,
// and exact ties break one way on columns and the other on bottom-up rows.
int32_t StretchSourceIndex(int32_t d, int32_t source_size, int32_t destination_size, StretchAxis axis);

// `source` is top-down, `source_stride` bytes a row, `channels` bytes a pixel in red, green, blue order
// (a fourth channel is ignored). `target` is a bottom-up 24-bit BGR picture of `width` x `height`.
void StretchToDeviceLayout(const uint8_t* source, int32_t source_width, int32_t source_height, int32_t source_stride,
                           int32_t channels, uint8_t* target, int32_t width, int32_t height);

}  // namespace vexlan

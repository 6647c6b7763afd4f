#include "output/stretch.h"

namespace vexlan {

int32_t StretchSourceIndex(int32_t d, int32_t source_size, int32_t destination_size, StretchAxis axis) {
  const int64_t s = source_size;
  const int64_t n = destination_size;
  const bool stretching = n >= s;
  const bool ties_round_up = (axis == StretchAxis::kColumns) != stretching;
  const int64_t denominator = 2 * n;
  // Stretching: the centre of destination pixel d, (d + 1/2) * s / n. Shrinking: the last source pixel
  // before the start of destination pixel d + 1, round((d + 1) * s / n) - 1.
  const int64_t numerator = stretching ? (2 * d + 1) * s : 2 * (d + 1) * s + n;
  const int64_t index = (ties_round_up ? numerator : numerator - 1) / denominator;
  return static_cast<int32_t>(stretching ? index : index - 1);
}

void StretchToDeviceLayout(const uint8_t* source, int32_t source_width, int32_t source_height, int32_t source_stride,
                           int32_t channels, uint8_t* target, int32_t width, int32_t height) {
  if (source_width <= 0 || source_height <= 0 || width <= 0 || height <= 0 || width > 4096) return;
  int32_t column_offsets[4096];
  for (int32_t x = 0; x < width; ++x)
    column_offsets[x] = StretchSourceIndex(x, source_width, width, StretchAxis::kColumns) * channels;
  const int64_t row_bytes = static_cast<int64_t>(width) * 3;
  for (int32_t row = 0; row < height; ++row) {  // bottom-up, as the target is stored
    const int32_t source_row = source_height - 1 - StretchSourceIndex(row, source_height, height, StretchAxis::kRows);
    const uint8_t* from = source + static_cast<int64_t>(source_row) * source_stride;
    uint8_t* to = target + row * row_bytes;
    for (int32_t x = 0; x < width; ++x, to += 3) {
      const uint8_t* pixel = from + column_offsets[x];
      to[0] = pixel[2];
      to[1] = pixel[1];
      to[2] = pixel[0];
    }
  }
}

}  // namespace vexlan

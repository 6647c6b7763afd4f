#include "output/stretch.h"


namespace vexlan {

int32_t StretchSourceIndex(int32_t d, int32_t source_size, int32_t destination_size) {
  // Centre of the destination pixel mapped into the source, rounded down.
  return static_cast<int32_t>((2 * static_cast<int64_t>(d) + 1) * source_size / (2 * static_cast<int64_t>(destination_size)));
}

void StretchToDeviceLayout(const uint8_t* source, int32_t source_width, int32_t source_height, int32_t source_stride,
                           int32_t channels, uint8_t* target, int32_t width, int32_t height) {
  if (source_width <= 0 || source_height <= 0) return;
  int32_t columns[4096];
  const int32_t column_count = width < 4096 ? width : 4096;
  for (int32_t x = 0; x < column_count; ++x) columns[x] = StretchSourceIndex(x, source_width, width) * channels;
  const int32_t row_bytes = width * 3;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* from = source + static_cast<int64_t>(StretchSourceIndex(y, source_height, height)) * source_stride;
    uint8_t* to = target + static_cast<int64_t>(height - 1 - y) * row_bytes;  // bottom-up
    for (int32_t x = 0; x < column_count; ++x, to += 3) {
      const uint8_t* pixel = from + columns[x];
      to[0] = pixel[2];
      to[1] = pixel[1];
      to[2] = pixel[0];
    }
  }
}

}  // namespace vexlan

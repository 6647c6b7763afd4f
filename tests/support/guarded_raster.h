// A raster whose bytes sit between guard bytes, so that any write outside it shows: the drawing tests'
// surface.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "output/raster.h"

namespace vexlan {

class GuardedRaster {
 public:
  GuardedRaster(int32_t width, int32_t height)
      : storage_(RasterBytes(width, height) + 2 * kGuard, kGuardByte),
        raster_(storage_.data() + kGuard, width, height) {
    std::fill(storage_.begin() + kGuard, storage_.end() - kGuard, 0);
  }
  Raster& raster() { return raster_; }
  uint32_t At(int32_t x, int32_t y) const {
    uint32_t colour = 0xDEAD;
    raster_.GetPixel(x, y, &colour);
    return colour;
  }
  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (storage_[i] != kGuardByte || storage_[storage_.size() - 1 - i] != kGuardByte) return false;
    return true;
  }
  // One character per pixel: '.' for 0, '#' for 1, '+' for anything else.
  std::string Picture() const {
    std::string text;
    for (int32_t y = 0; y < raster_.height(); ++y) {
      for (int32_t x = 0; x < raster_.width(); ++x) text += At(x, y) == 0 ? '.' : At(x, y) == 1 ? '#' : '+';
      text += '\n';
    }
    return text;
  }

 private:
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kGuardByte = 0xA5;
  std::vector<uint8_t> storage_;
  Raster raster_;
};

}  // namespace vexlan

#include "output/stretch.h"

#include <cstring>

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

RowStretch::RowStretch(int32_t source_width, int32_t source_height, int32_t channels, uint8_t* target, int32_t width,
                       int32_t height, SourceOrder order)
    : order_(order), width_(width), height_(height), target_(target) {
  if (source_width <= 0 || source_height <= 0 || width <= 0 || height <= 0 || width > 4096) return;
  column_offsets_.resize(static_cast<size_t>(width));
  for (int32_t x = 0; x < width; ++x)
    column_offsets_[x] = StretchSourceIndex(x, source_width, width, StretchAxis::kColumns) * channels;
  source_rows_.resize(static_cast<size_t>(height));
  for (int32_t row = 0; row < height; ++row)  // bottom-up, as the target is stored
    source_rows_[height - 1 - row] =
        source_height - 1 - StretchSourceIndex(row, source_height, height, StretchAxis::kRows);
  ok_ = true;
}

uint8_t* RowStretch::RowAt(int32_t top_down) const {
  return target_ + static_cast<int64_t>(height_ - 1 - top_down) * width_ * 3;
}

namespace {

// One target row from the source pixels at `offsets`; the order is fixed at compile time so that each
// loop moves bytes without choosing.
template <SourceOrder order>
void PickPixels(const uint8_t* row, const std::vector<int32_t>& offsets, uint8_t* to) {
  constexpr int kBlue = order == SourceOrder::kRgb ? 2 : 0;
  for (const int32_t offset : offsets) {
    const uint8_t* pixel = row + offset;
    to[0] = pixel[kBlue];
    to[1] = pixel[1];
    to[2] = pixel[2 - kBlue];
    to += 3;
  }
}

}  // namespace

void RowStretch::Place(int32_t y, const uint8_t* row) {
  if (!Wanted(y)) return;
  uint8_t* first = RowAt(next_);
  if (order_ == SourceOrder::kRgb)
    PickPixels<SourceOrder::kRgb>(row, column_offsets_, first);
  else
    PickPixels<SourceOrder::kBgr>(row, column_offsets_, first);
  for (++next_; next_ < height_ && source_rows_[next_] == y; ++next_)
    std::memcpy(RowAt(next_), first, static_cast<size_t>(width_) * 3);
}

void StretchToDeviceLayout(const uint8_t* source, int32_t source_width, int32_t source_height, int32_t source_stride,
                           int32_t channels, uint8_t* target, int32_t width, int32_t height) {
  RowStretch stretch(source_width, source_height, channels, target, width, height);
  for (int32_t y = 0; y < source_height; ++y)
    if (stretch.Wanted(y)) stretch.Place(y, source + static_cast<int64_t>(y) * source_stride);
}

}  // namespace vexlan

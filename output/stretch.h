// Nearest-neighbour stretching of a whole picture onto the 320x240 device surface, picking the source
// pixels that GDI's StretchBlt picks in COLORONCOLOR mode, so that a lossless file gives the same device
// image on every platform.
#pragma once

#include <cstdint>
#include <vector>

namespace vexlan {

enum class StretchAxis { kColumns, kRows };

// The order of the colour bytes in a source pixel: red first (decoders' RGB) or blue first (GDI's BGR).
enum class SourceOrder { kRgb, kBgr };

// The source column (or row) that destination column (or row) `d` takes. Rows are counted bottom-up, in
// the order a DIB keeps them. Both axes step like a line drawn from one corner to the other: a stretched
// axis samples each destination pixel's centre, a shrunk one the last source pixel that falls on it,
// and exact ties break one way on columns and the other on bottom-up rows.
int32_t StretchSourceIndex(int32_t d, int32_t source_size, int32_t destination_size, StretchAxis axis);

// Places a picture's rows on the target as a decoder hands them over, top row first, so that each row
// is read while it is still in the cache and no whole picture need be kept. A source row is converted
// once: destination rows that take the same source row copy the first one.
// Source rows hold `channels` bytes a pixel, colours in `order` (a fourth channel is ignored). The target
// is a bottom-up 24-bit BGR picture of `width` x `height`, rows `width` * 3 bytes apart.
class RowStretch {
 public:
  RowStretch(int32_t source_width, int32_t source_height, int32_t channels, uint8_t* target, int32_t width,
             int32_t height, SourceOrder order = SourceOrder::kRgb);
  // False for an empty picture or target, or a target wider than 4096 pixels: nothing is placed.
  bool ok() const { return ok_; }
  // Whether source row `y` (counted top-down) lands on the target at all.
  bool Wanted(int32_t y) const { return ok_ && next_ < height_ && source_rows_[next_] == y; }
  // Source row `y`; rows are given in order, and those that land nowhere may be left out.
  void Place(int32_t y, const uint8_t* row);

 private:
  uint8_t* RowAt(int32_t top_down) const;

  bool ok_ = false;
  SourceOrder order_;
  int32_t width_;
  int32_t height_;
  uint8_t* target_;
  int32_t next_ = 0;                  // the next destination row, counted top-down
  std::vector<int32_t> source_rows_;  // of each destination row, top-down, never decreasing
  std::vector<int32_t> column_offsets_;
};

// `source` is top-down, `source_stride` bytes a row, `channels` bytes a pixel as RowStretch takes them.
void StretchToDeviceLayout(const uint8_t* source, int32_t source_width, int32_t source_height, int32_t source_stride,
                           int32_t channels, uint8_t* target, int32_t width, int32_t height);

}  // namespace vexlan

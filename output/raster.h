// A drawing surface of width x height pixels kept in the raw image layout itself (picture_format.h): the
// header (zero) then the rows, top row first, each pixel 4 bytes red, green, blue and a fourth byte left at 0.
// A 320x240 surface is therefore, byte for byte, the string that SetImage takes.
//
// Raster is a view: the caller owns the bytes (RasterBytes(width, height) of them, zeroed or not). It
// holds no Lua and allocates nothing.
//
// Coordinates: x to the right, y downward, (0, 0) the top-left pixel. Every coordinate and length is a
// double, rounded to the nearest whole pixel (halves upward) after being clamped to +-kRasterFar, so any
// value, huge or infinite, is safe; a shape with a NaN in its position or size draws nothing. Anything
// partly or wholly off the surface is clipped. Colours are 0xRRGGBB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "output/picture_format.h"

namespace vexlan {

inline constexpr int32_t kRasterMaxSide = 4096;
// Far enough off any surface; small enough that sums and squares of coordinates stay exact in doubles.
inline constexpr double kRasterFar = 1 << 22;
inline constexpr int32_t kTextMaxScale = 64;
inline constexpr int32_t kTextLineHeight = 12;  // font units per line

constexpr size_t RasterBytes(int32_t width, int32_t height) {
  return kRawHeaderBytes + static_cast<size_t>(width) * static_cast<size_t>(height) * kRawPixelBytes;
}
constexpr bool RasterSizeValid(int32_t width, int32_t height) {
  return width >= 1 && height >= 1 && width <= kRasterMaxSide && height <= kRasterMaxSide;
}

// The part of a surface that drawing may change: the pixels [left, right) x [top, bottom), and of those,
// when `circle` is set, only the ones whose centres lie at most `radius` from (cx, cy) (anti-aliased
// drawing fades out over the circle's last pixel).
struct RasterClip {
  int32_t left = 0, top = 0, right = kRasterMaxSide, bottom = kRasterMaxSide;
  bool circle = false;
  double cx = 0, cy = 0, radius = 0;
};

// The clockwise sweep from `from` to `to` degrees: (to - from) modulo 360, except that a whole turn or
// more either way is the whole circle (360). Zero, nothing to draw, for equal or non-finite angles.
double ClockwiseSweep(double from, double to);

struct TextSize {
  int64_t width;
  int64_t height;
};

// The size `text` takes at `scale` (1 to kTextMaxScale): the widest line's advance, and 12 x scale per
// line ("\n" starts a line; a last, empty line after a final "\n" does not count).
TextSize MeasureText(std::string_view text, int32_t scale);

class Raster {
 public:
  // `bytes` holds RasterBytes(width, height) bytes; the size satisfies RasterSizeValid.
  Raster(uint8_t* bytes, int32_t width, int32_t height) : bytes_(bytes), width_(width), height_(height) {
    SetClip(RasterClip{});
  }

  // Narrows `clip` to the surface and keeps it for every drawing call after.
  void SetClip(const RasterClip& clip);
  const RasterClip& clip() const { return clip_; }
  // The first of the clip's pixels in row y (y within the clip) that lie in its circle, and one past the
  // last; equal when none does.
  void ClipRow(int64_t y, int64_t* from, int64_t* to) const;
  uint8_t* PixelAt(int64_t x, int64_t y) { return Row(y) + 4 * x; }
  const uint8_t* PixelAt(int64_t x, int64_t y) const { return Row(y) + 4 * x; }

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  const uint8_t* bytes() const { return bytes_; }
  size_t byte_size() const { return RasterBytes(width_, height_); }

  void Fill(uint32_t colour);
  // False (and `colour` untouched) off the surface.
  bool GetPixel(double x, double y, uint32_t* colour) const;
  void SetPixel(double x, double y, uint32_t colour);
  // The pixels [x, x + w) x [y, y + h); the outline is the ring of its border pixels.
  void Rect(double x, double y, double w, double h, uint32_t colour, bool filled);
  // Thickness 1 (or less, or NaN): one pixel per column (or row, for a steep line). Thicker: every pixel
  // within thickness/2 of the segment, so the ends are round.
  void Line(double x0, double y0, double x1, double y1, uint32_t colour, double thickness);
  // Filled: the pixels at most `radius` from the centre. Outline: those in [radius - 1/2, radius + 1/2).
  void Circle(double cx, double cy, double radius, uint32_t colour, bool filled);
  // The stretch of the ring [radius - thickness/2, radius + thickness/2) swept clockwise from `from_degrees`
  // to `to_degrees` (see ClockwiseSweep), angles measured clockwise from 12 o'clock (so 90 is 3 o'clock).
  void Arc(double cx, double cy, double radius, double from_degrees, double to_degrees, uint32_t colour,
           double thickness);
  // Copies (all four bytes of each pixel, within the clip) the w x h area at (sx, sy) of a source in the same layout (`source` holds
  // RasterBytes(source_width, source_height) bytes, and may be this surface's own) to (x, y).
  void Blit(const uint8_t* source, int32_t source_width, int32_t source_height, double x, double y, double sx,
            double sy, double w, double h);
  // Draws `text` with its first line's top-left corner at (x, y), each font pixel a scale x scale block
  // (scale 1 to kTextMaxScale). Bytes outside printable ASCII show as '?'. Returns the text's width.
  int64_t Text(double x, double y, std::string_view text, uint32_t colour, int32_t scale);

 private:
  uint8_t* Row(int64_t y) { return bytes_ + RowOffset(y); }
  const uint8_t* Row(int64_t y) const { return bytes_ + RowOffset(y); }
  size_t RowOffset(int64_t y) const { return kRawHeaderBytes + static_cast<size_t>(y) * width_ * kRawPixelBytes; }
  // Pixels [x0, x1] of row y, clipped.
  void Span(int64_t y, int64_t x0, int64_t x1, uint32_t colour);
  void Ring(int64_t cx, int64_t cy, double inner, double outer, bool sector, double from_degrees, double sweep_degrees,
            uint32_t colour);

  uint8_t* bytes_;
  int32_t width_;
  int32_t height_;
  RasterClip clip_;
};

}  // namespace vexlan

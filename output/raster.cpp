#include "output/raster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

// The font: stb_easy_font (public domain or MIT, Debian's libstb-dev), which builds each character of
// printable ASCII from a few axis-aligned bars. It is only read once, into the glyph table below.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include "stb_easy_font.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace vexlan {
namespace {

// Shapes with edges exactly halfway between pixel centres (even thicknesses) need a tie-break: the
// sample point of each pixel sits this far right of and below its centre, so such ties go up and left.
constexpr double kNudge = 1.0 / 256;

bool AnyNaN(std::initializer_list<double> values) {
  for (double value : values)
    if (std::isnan(value)) return true;
  return false;
}

double Clamp(double value, double limit) {
  if (!(value >= -limit)) return -limit;  // NaN too
  return value > limit ? limit : value;
}

// The nearest whole pixel, halves upward.
int64_t Whole(double value) { return static_cast<int64_t>(std::floor(Clamp(value, kRasterFar) + 0.5)); }

double Thickness(double thickness) {
  return std::isnan(thickness) ? 1 : Clamp(std::max(thickness, 1.0), 2 * kRasterFar);
}

int64_t FloorDiv(int64_t numerator, int64_t denominator) {  // denominator > 0
  const int64_t quotient = numerator / denominator;
  return quotient * denominator > numerator ? quotient - 1 : quotient;
}

// The largest m >= 0 with m*m < limit (strict) or m*m <= limit; -1 when there is none.
int64_t Root(double limit, bool strict) {
  if (strict ? limit <= 0 : limit < 0) return -1;
  auto m = static_cast<int64_t>(std::sqrt(limit));
  auto inside = [&](int64_t n) {
    const double square = static_cast<double>(n) * static_cast<double>(n);
    return strict ? square < limit : square <= limit;
  };
  while (m > 0 && !inside(m)) --m;
  while (inside(m + 1)) ++m;
  return inside(m) ? m : -1;
}

void PutPixels(uint8_t* at, size_t count, uint32_t colour) {
  const uint8_t pixel[4] = {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                            static_cast<uint8_t>(colour), 0};
  for (size_t i = 0; i < count; ++i) std::memcpy(at + 4 * i, pixel, 4);
}

// Sine and cosine of an angle in degrees, exact at multiples of 90 so that arcs ending on an axis end
// on it exactly.
std::pair<double, double> SinCosDegrees(double degrees) {
  double turn = std::fmod(degrees, 360.0);
  if (turn < 0) turn += 360;
  if (turn == 0) return {0, 1};
  if (turn == 90) return {1, 0};
  if (turn == 180) return {0, -1};
  if (turn == 270) return {-1, 0};
  const double radians = turn * (3.14159265358979323846 / 180);
  return {std::sin(radians), std::cos(radians)};
}

// ---- The font, as rectangles in font units --------------------------------------------------------

struct GlyphBar {
  int8_t left, top, right, bottom;  // right and bottom exclusive
};
struct Glyph {
  uint8_t advance = 0;
  uint8_t bar_count = 0;
  std::array<GlyphBar, 12> bars{};
};
using GlyphTable = std::array<Glyph, 95>;  // ' ' to '~'

GlyphTable BuildGlyphs() {
  GlyphTable table{};
  char vertices[64 * 16];  // stb writes 64 bytes per bar; no character has more than 12
  for (int code = 32; code < 127; ++code) {
    char text[2] = {static_cast<char>(code), 0};
    Glyph& glyph = table[code - 32];
    glyph.advance = stb_easy_font_charinfo[code - 32].advance & 15;
    const int bars = std::min<int>(stb_easy_font_print(0, 0, text, nullptr, vertices, sizeof vertices), 12);
    for (int i = 0; i < bars; ++i) {
      float corner[4][2];
      for (int v = 0; v < 4; ++v) std::memcpy(corner[v], vertices + 64 * i + 16 * v, sizeof corner[v]);
      glyph.bars[i] = GlyphBar{static_cast<int8_t>(corner[0][0]), static_cast<int8_t>(corner[0][1]),
                               static_cast<int8_t>(corner[2][0]), static_cast<int8_t>(corner[2][1])};
    }
    glyph.bar_count = static_cast<uint8_t>(bars);
  }
  return table;
}

const Glyph& GlyphOf(unsigned char byte) {
  static const GlyphTable table = BuildGlyphs();
  return table[(byte >= 32 && byte < 127 ? byte : '?') - 32];
}

}  // namespace

TextSize MeasureText(std::string_view text, int32_t scale) {
  int64_t widest = 0, line = 0, newlines = 0;
  for (const char c : text) {
    if (c == '\n') {
      widest = std::max(widest, line);
      line = 0;
      ++newlines;
    } else {
      line += GlyphOf(static_cast<unsigned char>(c)).advance;
    }
  }
  widest = std::max(widest, line);
  const bool last_line_empty = text.empty() || text.back() == '\n';
  return TextSize{widest * scale, (newlines + (last_line_empty ? 0 : 1)) * kTextLineHeight * scale};
}

double ClockwiseSweep(double from, double to) {
  if (!std::isfinite(from) || !std::isfinite(to)) return 0;
  const double difference = to - from;
  if (std::abs(difference) >= 360) return 360;
  const double sweep = std::fmod(difference, 360.0);
  return sweep < 0 ? sweep + 360 : sweep;
}

void Raster::SetClip(const RasterClip& clip) {
  clip_ = clip;
  clip_.left = std::clamp(clip.left, 0, width_);
  clip_.top = std::clamp(clip.top, 0, height_);
  clip_.right = std::clamp(clip.right, clip_.left, width_);
  clip_.bottom = std::clamp(clip.bottom, clip_.top, height_);
  if (clip_.circle && !(clip_.radius >= 0 && std::isfinite(clip_.cx) && std::isfinite(clip_.cy)))
    clip_.right = clip_.left;  // a circle of no size, or nowhere: nothing may be drawn
}

void Raster::ClipRow(int64_t y, int64_t* from, int64_t* to) const {
  *from = clip_.left;
  *to = clip_.right;
  if (!clip_.circle) return;
  const double dy = static_cast<double>(y) - clip_.cy, room = clip_.radius * clip_.radius - dy * dy;
  if (room < 0) {
    *to = *from;
    return;
  }
  const double half = std::sqrt(room);
  *from = std::max<int64_t>(*from, static_cast<int64_t>(std::ceil(Clamp(clip_.cx - half, kRasterFar))));
  *to = std::max<int64_t>(*from, std::min<int64_t>(*to, static_cast<int64_t>(std::floor(Clamp(clip_.cx + half, kRasterFar))) + 1));
}

void Raster::Span(int64_t y, int64_t x0, int64_t x1, uint32_t colour) {
  if (y < clip_.top || y >= clip_.bottom) return;
  int64_t from, to;
  ClipRow(y, &from, &to);
  x0 = std::max<int64_t>(x0, from);
  x1 = std::min<int64_t>(x1, to - 1);
  if (x0 <= x1) PutPixels(Row(y) + 4 * x0, static_cast<size_t>(x1 - x0 + 1), colour);
}

void Raster::Fill(uint32_t colour) {
  if (clip_.left == 0 && clip_.top == 0 && clip_.right == width_ && clip_.bottom == height_ && !clip_.circle)
    return PutPixels(Row(0), static_cast<size_t>(width_) * height_, colour);
  for (int64_t row = clip_.top; row < clip_.bottom; ++row) Span(row, 0, width_ - 1, colour);
}

bool Raster::GetPixel(double x, double y, uint32_t* colour) const {
  if (AnyNaN({x, y})) return false;
  const int64_t column = Whole(x), row = Whole(y);
  if (column < 0 || column >= width_ || row < 0 || row >= height_) return false;
  const uint8_t* pixel = Row(row) + 4 * column;
  *colour = static_cast<uint32_t>(pixel[0]) << 16 | static_cast<uint32_t>(pixel[1]) << 8 | pixel[2];
  return true;
}

void Raster::SetPixel(double x, double y, uint32_t colour) {
  if (AnyNaN({x, y})) return;
  const int64_t column = Whole(x);
  Span(Whole(y), column, column, colour);
}

void Raster::Rect(double x, double y, double w, double h, uint32_t colour, bool filled) {
  if (AnyNaN({x, y, w, h, x + w, y + h})) return;
  const int64_t left = Whole(x), top = Whole(y), right = Whole(x + w) - 1, bottom = Whole(y + h) - 1;
  if (right < left || bottom < top) return;
  const int64_t first = std::max<int64_t>(top, 0), last = std::min<int64_t>(bottom, height_ - 1);
  for (int64_t row = first; row <= last; ++row) {
    if (filled || row == top || row == bottom) {
      Span(row, left, right, colour);
    } else {
      Span(row, left, left, colour);
      Span(row, right, right, colour);
    }
  }
}

void Raster::Line(double x0, double y0, double x1, double y1, uint32_t colour, double thickness) {
  if (AnyNaN({x0, y0, x1, y1})) return;
  int64_t ax = Whole(x0), ay = Whole(y0), bx = Whole(x1), by = Whole(y1);
  const double radius = Thickness(thickness) / 2;
  if (radius <= 0.5) {
    // One pixel per step along the longer axis, the other coordinate rounded (halves upward), always
    // walked from the lower end so that both directions give the same pixels. Only the steps over the
    // surface are walked.
    const bool steep = std::abs(by - ay) > std::abs(bx - ax);
    if (steep) std::swap(ax, ay), std::swap(bx, by);
    if (ax > bx) std::swap(ax, bx), std::swap(ay, by);
    const int64_t run = bx - ax, rise = by - ay;
    const int64_t along_limit = steep ? height_ - 1 : width_ - 1;
    for (int64_t along = std::max<int64_t>(ax, 0); along <= std::min(bx, along_limit); ++along) {
      const int64_t across = run == 0 ? ay : ay + FloorDiv(2 * (along - ax) * rise + run, 2 * run);
      if (steep)
        Span(along, across, across, colour);
      else
        Span(across, along, along, colour);
    }
    return;
  }
  // Thick: per row, the span of the capsule (the segment widened by `radius`, round at both ends), worked
  // out relative to the first end. The capsule is convex, so each row meets it in one interval: the hull
  // of the row's intervals through the two end discs and the body.
  const double dx = static_cast<double>(bx - ax), dy = static_cast<double>(by - ay);
  const double length_squared = dx * dx + dy * dy, reach = radius * std::sqrt(length_squared);
  const int64_t first = std::max<int64_t>(std::min(ay, by) - static_cast<int64_t>(radius) - 1, 0);
  const int64_t last = std::min<int64_t>(std::max(ay, by) + static_cast<int64_t>(radius) + 1, height_ - 1);
  for (int64_t row = first; row <= last; ++row) {
    const double v = static_cast<double>(row - ay) + kNudge;
    double lo = INFINITY, hi = -INFINITY;
    auto disc = [&](double centre_x, double centre_y) {
      const double room = radius * radius - (v - centre_y) * (v - centre_y);
      if (room < 0) return;
      const double half = std::sqrt(room);
      lo = std::min(lo, centre_x - half);
      hi = std::max(hi, centre_x + half);
    };
    disc(0, 0);
    disc(dx, dy);
    if (length_squared > 0) {
      // u (the column relative to the first end) with 0 <= u*dx + v*dy <= |d|^2 (between the ends) and
      // |v*dx - u*dy| <= radius*|d| (near the segment's line).
      double body_lo = -INFINITY, body_hi = INFINITY;
      auto keep = [&](double slope, double offset, double low, double high) {
        if (slope == 0) {
          if (offset < low || offset > high) body_lo = INFINITY;
          return;
        }
        double a = (low - offset) / slope, b = (high - offset) / slope;
        if (a > b) std::swap(a, b);
        body_lo = std::max(body_lo, a);
        body_hi = std::min(body_hi, b);
      };
      keep(dx, v * dy, 0, length_squared);
      keep(-dy, v * dx, -reach, reach);
      if (body_lo <= body_hi) lo = std::min(lo, body_lo), hi = std::max(hi, body_hi);
    }
    if (lo > hi) continue;
    Span(row, ax + static_cast<int64_t>(std::ceil(lo - kNudge)), ax + static_cast<int64_t>(std::floor(hi - kNudge)),
         colour);
  }
}

void Raster::Circle(double cx, double cy, double radius, uint32_t colour, bool filled) {
  if (AnyNaN({cx, cy, radius}) || radius < 0) return;
  radius = Clamp(radius, 2 * kRasterFar);
  if (!filled) return Ring(Whole(cx), Whole(cy), std::max(radius - 0.5, 0.0), radius + 0.5, false, 0, 0, colour);
  const int64_t x = Whole(cx), y = Whole(cy), reach = static_cast<int64_t>(radius);
  const int64_t first = std::max<int64_t>(y - reach, 0), last = std::min<int64_t>(y + reach, height_ - 1);
  for (int64_t row = first; row <= last; ++row) {
    const double dy = static_cast<double>(row - y);
    const int64_t half = Root(radius * radius - dy * dy, false);
    if (half >= 0) Span(row, x - half, x + half, colour);
  }
}

void Raster::Arc(double cx, double cy, double radius, double from_degrees, double to_degrees, uint32_t colour,
                 double thickness) {
  if (AnyNaN({cx, cy, radius}) || !std::isfinite(from_degrees) || !std::isfinite(to_degrees) || radius < 0) return;
  radius = Clamp(radius, 2 * kRasterFar);
  const double half = Thickness(thickness) / 2;
  const double sweep = ClockwiseSweep(from_degrees, to_degrees);
  if (sweep == 0) return;
  Ring(Whole(cx), Whole(cy), std::max(radius - half, 0.0), radius + half, sweep < 360, from_degrees, sweep, colour);
}

// The pixels with inner <= distance < outer from (cx, cy); with `sector`, only those whose direction lies
// in the clockwise sweep of `sweep_degrees` (under 360) from `from_degrees`.
void Raster::Ring(int64_t cx, int64_t cy, double inner, double outer, bool sector, double from_degrees,
                  double sweep_degrees, uint32_t colour) {
  // Directions as screen vectors (x right, y down): angle a is (sin a, -cos a). p lies clockwise of u
  // within half a turn when cross(u, p) > 0.
  const auto [from_sin, from_cos] = SinCosDegrees(from_degrees);
  const auto [to_sin, to_cos] = SinCosDegrees(from_degrees + sweep_degrees);
  const double ux = from_sin, uy = -from_cos, vx = to_sin, vy = -to_cos;
  auto in_sector = [&](double px, double py) {
    const double from_u = ux * py - uy * px, to_v = px * vy - py * vx;
    if (sweep_degrees <= 180) return from_u >= 0 && to_v >= 0;
    return !(to_v < 0 && from_u < 0);  // outside only strictly inside the (narrow) rest of the turn
  };
  const auto reach = static_cast<int64_t>(outer) + 1;
  const int64_t first = std::max<int64_t>(cy - reach, 0), last = std::min<int64_t>(cy + reach, height_ - 1);
  for (int64_t row = first; row <= last; ++row) {
    const double dy = static_cast<double>(row - cy);
    const int64_t out = Root(outer * outer - dy * dy, true);
    if (out < 0) continue;
    const int64_t in = Root(inner * inner - dy * dy, true);  // |dx| <= in lies inside the hole
    // Left side [cx - out, cx - in - 1], right side [cx + in + 1, cx + out]; one span when there is no hole.
    const std::pair<int64_t, int64_t> parts[2] = {{cx - out, in < 0 ? cx + out : cx - in - 1},
                                                  {in < 0 ? 1 : cx + in + 1, in < 0 ? 0 : cx + out}};
    for (const auto& [left, right] : parts) {
      if (!sector) {
        Span(row, left, right, colour);
        continue;
      }
      const int64_t from = std::max<int64_t>(left, 0), to = std::min<int64_t>(right, width_ - 1);
      for (int64_t column = from; column <= to; ++column)
        if (in_sector(static_cast<double>(column - cx), dy)) Span(row, column, column, colour);
    }
  }
}

void Raster::Blit(const uint8_t* source, int32_t source_width, int32_t source_height, double x, double y, double sx,
                  double sy, double w, double h) {
  if (AnyNaN({x, y, sx, sy, w, h, sx + w, sy + h})) return;
  int64_t from_left = Whole(sx), from_top = Whole(sy);
  int64_t from_right = std::min<int64_t>(Whole(sx + w), source_width);  // exclusive
  int64_t from_bottom = std::min<int64_t>(Whole(sy + h), source_height);
  int64_t to_left = Whole(x), to_top = Whole(y);
  // Off the source's left or top: those columns and rows are skipped at both ends.
  if (from_left < 0) to_left -= from_left, from_left = 0;
  if (from_top < 0) to_top -= from_top, from_top = 0;
  // Off the clip's left or top: likewise.
  if (to_left < clip_.left) from_left += clip_.left - to_left, to_left = clip_.left;
  if (to_top < clip_.top) from_top += clip_.top - to_top, to_top = clip_.top;
  const int64_t columns = std::min<int64_t>(from_right - from_left, clip_.right - to_left);
  const int64_t rows = std::min<int64_t>(from_bottom - from_top, clip_.bottom - to_top);
  if (columns <= 0 || rows <= 0) return;
  auto source_row = [&](int64_t row) {
    return source + kRawHeaderBytes + (static_cast<size_t>(from_top + row) * source_width + from_left) * kRawPixelBytes;
  };
  // From itself, downward: the rows go bottom first so that none is overwritten before it is read.
  const bool backward = source == bytes_ && to_top > from_top;
  for (int64_t i = 0; i < rows; ++i) {
    const int64_t row = backward ? rows - 1 - i : i;
    int64_t first = to_left, end = to_left + columns;
    if (clip_.circle) {
      int64_t from, to;
      ClipRow(to_top + row, &from, &to);
      first = std::max(first, from), end = std::min(end, to);
      if (first >= end) continue;
    }
    std::memmove(Row(to_top + row) + 4 * first, source_row(row) + 4 * (first - to_left),
                 static_cast<size_t>(end - first) * 4);
  }
}

int64_t Raster::Text(double x, double y, std::string_view text, uint32_t colour, int32_t scale) {
  scale = std::clamp(scale, 1, kTextMaxScale);
  const int64_t width = MeasureText(text, scale).width;
  if (AnyNaN({x, y})) return width;
  const int64_t left = Whole(x);
  int64_t pen = left, top = Whole(y);
  const int64_t cell = 16 * static_cast<int64_t>(scale);  // wider and taller than any glyph
  for (const char c : text) {
    if (top >= height_) break;
    if (c == '\n') {
      pen = left;
      top += kTextLineHeight * scale;
      continue;
    }
    const Glyph& glyph = GlyphOf(static_cast<unsigned char>(c));
    if (pen < width_ && pen + cell > 0 && top + cell > 0) {
      for (int i = 0; i < glyph.bar_count; ++i) {
        const GlyphBar& bar = glyph.bars[i];
        const int64_t row_end = std::min<int64_t>(top + bar.bottom * scale, height_);
        for (int64_t row = std::max<int64_t>(top + bar.top * scale, 0); row < row_end; ++row)
          Span(row, pen + bar.left * scale, pen + bar.right * scale - 1, colour);
      }
    }
    pen += glyph.advance * scale;
  }
  return width;
}

}  // namespace vexlan

#include "output/paint.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "output/truetype.h"

namespace vexlan {
namespace {

constexpr double kPi = 3.14159265358979323846;
// How far a chord may stray from its arc, in pixels: below what the eye sees at this size.
constexpr double kFlatness = 0.05;
constexpr int kMaxArcSegments = 4096;
// The points all round caps and joins of one stroke may take: a stroke of thousands of points with a
// huge width stays within a few megabytes and milliseconds, its curves coarser.
constexpr int kMaxStrokeArcPoints = 1 << 18;

double Far(double value) { return std::clamp(value, -kRasterFar, kRasterFar); }

// Per thread: the coverage mask, the clipped contours and a piece of a stroke being built.
struct Scratch {
  std::vector<uint8_t> mask;
  std::vector<float> points;
  std::vector<int> counts;
  std::vector<double> clip_in, clip_out;
  std::vector<double> piece;
  Outline outline;
};
Scratch& ThreadScratch() {
  static thread_local Scratch scratch;
  return scratch;
}

// Sutherland-Hodgman: the contour (x, y pairs) cut to one side of an axis-parallel line. Cutting by a
// convex region keeps the winding number of every point inside it, so fills stay exact.
void CutContour(const std::vector<double>& in, std::vector<double>& out, int axis, double limit, bool keep_below) {
  out.clear();
  const size_t count = in.size() / 2;
  if (count == 0) return;
  auto inside = [&](size_t i) { return keep_below ? in[2 * i + axis] <= limit : in[2 * i + axis] >= limit; };
  for (size_t i = 0; i < count; ++i) {
    const size_t previous = (i + count - 1) % count;
    const bool now = inside(i), before = inside(previous);
    if (now != before) {
      const double a = in[2 * previous + axis], b = in[2 * i + axis], t = (limit - a) / (b - a);
      const double other_a = in[2 * previous + 1 - axis], other_b = in[2 * i + 1 - axis];
      double crossing[2];
      crossing[axis] = limit;
      crossing[1 - axis] = other_a + (other_b - other_a) * t;
      out.push_back(crossing[0]);
      out.push_back(crossing[1]);
    }
    if (now) {
      out.push_back(in[2 * i]);
      out.push_back(in[2 * i + 1]);
    }
  }
}

uint8_t Mix(uint8_t from, uint8_t to, uint32_t alpha) {
  const int difference = (static_cast<int>(to) - from) * static_cast<int>(alpha);
  return static_cast<uint8_t>(from + (difference + (difference >= 0 ? 127 : -127)) / 255);
}

// Adds `count` points of `xy` as one contour going anticlockwise on the screen (positive area with y
// down), so that overlapping pieces of one stroke add up instead of cancelling.
void AddPiece(Outline& outline, const double* xy, size_t count) {
  double area = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t j = (i + 1) % count;
    area += xy[2 * i] * xy[2 * j + 1] - xy[2 * j] * xy[2 * i + 1];
  }
  outline.Start();
  for (size_t k = 0; k < count; ++k) {
    const size_t i = area >= 0 ? k : count - 1 - k;
    outline.Add(xy[2 * i], xy[2 * i + 1]);
  }
}

int ArcSegments(double radius, double sweep_degrees) {
  const double step = radius > kFlatness ? 2 * std::acos(1 - kFlatness / radius) : kPi / 2;
  const double segments = std::ceil(std::abs(sweep_degrees) * (kPi / 180) / step);
  return static_cast<int>(std::clamp(segments, 1.0, static_cast<double>(kMaxArcSegments)));
}

}  // namespace

void Outline::Add(double x, double y) {
  points_.push_back(std::isnan(x) ? x : Far(x));
  points_.push_back(std::isnan(y) ? y : Far(y));
  ++counts_.back();
}

void Outline::ReverseLast() {
  const size_t count = static_cast<size_t>(counts_.back()), start = points_.size() - 2 * count;
  for (size_t i = 0, j = count - 1; i < j; ++i, --j) {
    std::swap(points_[start + 2 * i], points_[start + 2 * j]);
    std::swap(points_[start + 2 * i + 1], points_[start + 2 * j + 1]);
  }
}

void PointOnCircle(double cx, double cy, double radius, double degrees, double* x, double* y) {
  const double turn = std::fmod(degrees, 360.0);
  double s, c;
  if (turn == 0 || turn == 90 || turn == 180 || turn == 270 || turn == -90 || turn == -180 || turn == -270) {
    const int quarter = (static_cast<int>(turn) / 90 + 4) % 4;  // exact on the axes
    s = quarter == 1 ? 1 : quarter == 3 ? -1 : 0;
    c = quarter == 0 ? 1 : quarter == 2 ? -1 : 0;
  } else {
    s = std::sin(turn * (kPi / 180));
    c = std::cos(turn * (kPi / 180));
  }
  *x = cx + radius * s;
  *y = cy - radius * c;
}

void Outline::AddArc(double cx, double cy, double radius, double from, double sweep) {
  const int segments = ArcSegments(radius, sweep);
  for (int i = 0; i <= segments; ++i) {
    double x, y;
    PointOnCircle(cx, cy, radius, from + sweep * i / segments, &x, &y);
    Add(x, y);
  }
}

Outline& ScratchOutline() {
  Outline& outline = ThreadScratch().outline;
  outline.Clear();
  return outline;
}

namespace {

// BlendPixel with the colour already split into its channels.
inline void BlendChannels(uint8_t* at, const uint8_t (&rgb)[3], uint32_t alpha) {
  if (alpha >= 255) {
    at[0] = rgb[0], at[1] = rgb[1], at[2] = rgb[2], at[3] = 0;
    return;
  }
  if (alpha == 0) return;
  const uint32_t below = 255 - at[3];  // the surface's own opacity
  if (below == 255) {
    for (int i = 0; i < 3; ++i) at[i] = Mix(at[i], rgb[i], alpha);
    return;
  }
  // Straight alpha over a partly transparent pixel.
  const uint32_t kept = below * (255 - alpha);  // x 255
  const uint32_t total = alpha * 255 + kept;    // x 255
  if (total == 0) return;
  for (int i = 0; i < 3; ++i) at[i] = static_cast<uint8_t>((rgb[i] * alpha * 255 + at[i] * kept + total / 2) / total);
  at[3] = static_cast<uint8_t>(255 - (total + 127) / 255);
}

void SplitColour(uint32_t colour, uint8_t (&rgb)[3]) {
  rgb[0] = static_cast<uint8_t>(colour >> 16), rgb[1] = static_cast<uint8_t>(colour >> 8),
  rgb[2] = static_cast<uint8_t>(colour);
}

}  // namespace

void BlendPixel(uint8_t* at, uint32_t colour, uint32_t alpha) {
  uint8_t rgb[3];
  SplitColour(colour, rgb);
  BlendChannels(at, rgb, alpha);
}

void BlendMask(Raster& raster, const uint8_t* mask, int width, int height, int stride, int64_t left, int64_t top,
               uint32_t colour, bool smooth) {
  const RasterClip& clip = raster.clip();
  uint8_t rgb[3];
  SplitColour(colour, rgb);
  const uint32_t threshold = smooth ? 1 : 128;
  const int64_t first = std::max<int64_t>(top, clip.top), last = std::min<int64_t>(top + height, clip.bottom);
  for (int64_t y = first; y < last; ++y) {
    const uint8_t* row = mask + (y - top) * stride - left;
    int64_t from = std::max<int64_t>(left, clip.left), to = std::min<int64_t>(left + width, clip.right);
    if (!clip.circle) {
      uint8_t* pixel = raster.PixelAt(from, y);
      for (int64_t x = from; x < to; ++x, pixel += 4) {
        const uint32_t alpha = row[x];
        if (alpha >= threshold) BlendChannels(pixel, rgb, smooth ? alpha : 255);
      }
      continue;
    }
    // In a circle: the pixels whose centres lie within it, faded over its last pixel when smooth.
    const double dy = static_cast<double>(y) - clip.cy, reach = clip.radius + (smooth ? 0.5 : 0);
    if (reach * reach < dy * dy) continue;
    const double half = std::sqrt(reach * reach - dy * dy);
    from = std::max<int64_t>(from, static_cast<int64_t>(std::ceil(Far(clip.cx - half))));
    to = std::min<int64_t>(to, static_cast<int64_t>(std::floor(Far(clip.cx + half))) + 1);
    for (int64_t x = from; x < to; ++x) {
      uint32_t alpha = row[x];
      if (!smooth) {
        alpha = alpha >= 128 ? 255 : 0;
      } else if (alpha != 0) {
        const double dx = static_cast<double>(x) - clip.cx;
        const double fade = std::clamp(clip.radius + 0.5 - std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
        alpha = static_cast<uint32_t>(alpha * fade + 0.5);
      }
      if (alpha != 0) BlendChannels(raster.PixelAt(x, y), rgb, alpha);
    }
  }
}

void FillOutline(Raster& raster, const Outline& outline, const Paint& paint) {
  const std::vector<double>& points = outline.points();
  if (points.empty()) return;
  double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
  for (size_t i = 0; i < points.size(); i += 2) {
    if (std::isnan(points[i]) || std::isnan(points[i + 1])) return;
    left = std::min(left, points[i]), right = std::max(right, points[i]);
    top = std::min(top, points[i + 1]), bottom = std::max(bottom, points[i + 1]);
  }
  // Pixel x covers [x - 1/2, x + 1/2): the mask covers the shape's pixels within the clip.
  const RasterClip& clip = raster.clip();
  const int64_t x0 = std::max<int64_t>(clip.left, static_cast<int64_t>(std::floor(left + 0.5)));
  const int64_t y0 = std::max<int64_t>(clip.top, static_cast<int64_t>(std::floor(top + 0.5)));
  const int64_t x1 = std::min<int64_t>(clip.right, static_cast<int64_t>(std::floor(right + 0.5)) + 1);
  const int64_t y1 = std::min<int64_t>(clip.bottom, static_cast<int64_t>(std::floor(bottom + 0.5)) + 1);
  if (x0 >= x1 || y0 >= y1) return;
  Scratch& scratch = ThreadScratch();
  scratch.points.clear();
  scratch.counts.clear();
  // Each contour, in the mask's plane (shifted half a pixel), cut to the mask's rectangle.
  const double box[4] = {static_cast<double>(x0), static_cast<double>(y0), static_cast<double>(x1),
                         static_cast<double>(y1)};
  const bool inside = left + 0.5 >= box[0] && right + 0.5 <= box[2] && top + 0.5 >= box[1] && bottom + 0.5 <= box[3];
  size_t start = 0;
  for (const int count : outline.counts()) {
    scratch.clip_in.assign(points.begin() + start, points.begin() + start + 2 * count);
    start += 2 * static_cast<size_t>(count);
    for (double& value : scratch.clip_in) value += 0.5;
    if (!inside) {
      CutContour(scratch.clip_in, scratch.clip_out, 0, box[0], false);
      CutContour(scratch.clip_out, scratch.clip_in, 0, box[2], true);
      CutContour(scratch.clip_in, scratch.clip_out, 1, box[1], false);
      CutContour(scratch.clip_out, scratch.clip_in, 1, box[3], true);
    }
    if (scratch.clip_in.size() < 6) continue;
    for (const double value : scratch.clip_in) scratch.points.push_back(static_cast<float>(value));
    scratch.counts.push_back(static_cast<int>(scratch.clip_in.size() / 2));
  }
  if (scratch.counts.empty()) return;
  const int width = static_cast<int>(x1 - x0), height = static_cast<int>(y1 - y0);
  scratch.mask.resize(static_cast<size_t>(width) * height);
  RasterizeCoverage(CoverageMask{scratch.mask.data(), width, height, width}, scratch.points.data(),
                    scratch.counts.data(), static_cast<int>(scratch.counts.size()), static_cast<int>(x0),
                    static_cast<int>(y0));
  BlendMask(raster, scratch.mask.data(), width, height, width, x0, y0, paint.colour, paint.smooth);
}

// ---- Shapes ----------------------------------------------------------------------------------------

void AddDisc(Outline& outline, double cx, double cy, double radius) {
  outline.Start();
  outline.AddArc(cx, cy, radius, 0, 360);
}

void AddRingSector(Outline& outline, double cx, double cy, double inner, double outer, double from, double sweep) {
  inner = std::max(inner, 0.0);
  if (!(outer > inner)) return;
  outline.Start();
  outline.AddArc(cx, cy, outer, from, sweep);
  if (sweep >= 360) {
    if (inner > 0) {
      outline.Start();  // the hole: the other way round
      outline.AddArc(cx, cy, inner, from, -sweep);
    }
  } else if (inner > 0) {
    outline.AddArc(cx, cy, inner, from + sweep, -sweep);
  } else {
    outline.Add(cx, cy);
  }
}

void AddRoundedRect(Outline& outline, double x, double y, double w, double h, double radius, bool hole) {
  // Pixel x covers [x - 1/2, x + 1/2): the rectangle of pixels x .. x + w - 1.
  const double left = x - 0.5, top = y - 0.5, right = x + w - 0.5, bottom = y + h - 0.5;
  if (!(right > left && bottom > top)) return;
  const double r = std::clamp(radius, 0.0, std::min(right - left, bottom - top) / 2);
  outline.Start();
  if (!(r > 0)) {
    outline.Add(left, top), outline.Add(right, top), outline.Add(right, bottom), outline.Add(left, bottom);
    if (hole) outline.ReverseLast();
    return;
  }
  outline.AddArc(right - r, top + r, r, 0, 90);
  outline.AddArc(right - r, bottom - r, r, 90, 90);
  outline.AddArc(left + r, bottom - r, r, 180, 90);
  outline.AddArc(left + r, top + r, r, 270, 90);
  if (hole) outline.ReverseLast();
}

void AddPolyline(Outline& outline, const double* xy, int count, bool closed, double width, LineCap cap, LineJoin join) {
  const double half = std::clamp(width, 0.0, 2 * kRasterFar) / 2;
  if (!(half > 0) || count < 1) return;
  // The points, without repeats (a segment of no length has no direction).
  std::vector<double>& pts = ThreadScratch().clip_out;
  pts.clear();
  for (int i = 0; i < count; ++i) {
    const double x = Far(xy[2 * i]), y = Far(xy[2 * i + 1]);
    if (std::isnan(xy[2 * i]) || std::isnan(xy[2 * i + 1])) return;
    if (!pts.empty() && pts[pts.size() - 2] == x && pts.back() == y) continue;
    pts.push_back(x), pts.push_back(y);
  }
  int n = static_cast<int>(pts.size() / 2);
  if (closed && n > 2 && pts[0] == pts[2 * n - 2] && pts[1] == pts[2 * n - 1]) --n;
  std::vector<double>& piece = ThreadScratch().piece;
  if (n == 1) {  // a dot: its caps alone
    if (cap == LineCap::kRound) AddDisc(outline, pts[0], pts[1], half);
    if (cap == LineCap::kSquare) {
      const double square[8] = {pts[0] - half, pts[1] - half, pts[0] + half, pts[1] - half,
                                pts[0] + half, pts[1] + half, pts[0] - half, pts[1] + half};
      AddPiece(outline, square, 4);
    }
    return;
  }
  if (closed && n == 2) closed = false;
  const int segments = closed ? n : n - 1;
  auto point = [&](int i) { return std::array<double, 2>{pts[2 * (i % n)], pts[2 * (i % n) + 1]}; };
  auto direction = [&](int i) {
    const auto a = point(i), b = point(i + 1);
    const double dx = b[0] - a[0], dy = b[1] - a[1], length = std::hypot(dx, dy);
    return std::array<double, 2>{dx / length, dy / length};
  };
  const int cap_segments = std::min(ArcSegments(half, 180), std::max(4, kMaxStrokeArcPoints / n));
  for (int i = 0; i < segments; ++i) {
    const auto a = point(i), b = point(i + 1), d = direction(i);
    const double nx = -d[1] * half, ny = d[0] * half;  // the normal, `half` long
    const bool first_end = !closed && i == 0, last_end = !closed && i == segments - 1;
    piece.clear();
    auto add = [&](double x, double y) { piece.push_back(x), piece.push_back(y); };
    auto end_cap = [&](std::array<double, 2> at, bool is_end) {
      // From at + s*n round to at - s*n, outward along s*d (s = +1 at the far end, -1 at the near one).
      const double s = is_end ? 1 : -1;
      if (cap == LineCap::kRound) {
        for (int k = 0; k <= cap_segments; ++k) {
          const double t = kPi * k / cap_segments, c = std::cos(t), si = std::sin(t);
          add(at[0] + s * (nx * c + d[0] * half * si), at[1] + s * (ny * c + d[1] * half * si));
        }
      } else {
        const double reach = cap == LineCap::kSquare ? half : 0;
        add(at[0] + s * (nx + d[0] * reach), at[1] + s * (ny + d[1] * reach));
        add(at[0] + s * (-nx + d[0] * reach), at[1] + s * (-ny + d[1] * reach));
      }
    };
    if (last_end) {
      end_cap(b, true);
    } else {
      add(b[0] + nx, b[1] + ny), add(b[0] - nx, b[1] - ny);
    }
    if (first_end) {
      end_cap(a, false);
    } else {
      add(a[0] - nx, a[1] - ny), add(a[0] + nx, a[1] + ny);
    }
    AddPiece(outline, piece.data(), piece.size() / 2);
  }
  // Joins: at each inner point, the wedge on the outer side of the turn.
  for (int i = closed ? 0 : 1; i < n - (closed ? 0 : 1); ++i) {
    const auto v = point(i), d1 = direction((i + n - 1) % n), d2 = direction(i);
    const double cross = d1[0] * d2[1] - d1[1] * d2[0], dot = d1[0] * d2[0] + d1[1] * d2[1];
    if (std::abs(cross) < 1e-12 && dot > 0) continue;  // straight on
    const double s = cross > 0 ? -1 : 1;
    const double ax = v[0] - s * d1[1] * half, ay = v[1] + s * d1[0] * half;  // v + s*n1
    const double bx = v[0] - s * d2[1] * half, by = v[1] + s * d2[0] * half;  // v + s*n2
    piece.clear();
    piece.push_back(v[0]), piece.push_back(v[1]);
    piece.push_back(ax), piece.push_back(ay);
    if (join == LineJoin::kRound) {
      // Round from the first normal to the second, the short way.
      const double start = std::atan2(ax - v[0], -(ay - v[1])) * (180 / kPi);
      double sweep = std::atan2(bx - v[0], -(by - v[1])) * (180 / kPi) - start;
      if (sweep > 180) sweep -= 360;
      if (sweep < -180) sweep += 360;
      const int steps = std::max(1, std::min(ArcSegments(half, sweep), kMaxStrokeArcPoints / n));
      for (int k = 1; k < steps; ++k) {
        double x, y;
        PointOnCircle(v[0], v[1], half, start + sweep * k / steps, &x, &y);
        piece.push_back(x), piece.push_back(y);
      }
    } else if (join == LineJoin::kMiter && dot > -1 + 1e-9 && 2 / (1 + dot) <= 10 * 10) {
      // The tip where the outer edges meet, while it is at most 10 half-widths out (as is usual).
      const double scale = s / (1 + dot);
      piece.push_back(v[0] + scale * (-d1[1] - d2[1]) * half), piece.push_back(v[1] + scale * (d1[0] + d2[0]) * half);
    }
    piece.push_back(bx), piece.push_back(by);
    AddPiece(outline, piece.data(), piece.size() / 2);
  }
}

// ---- Pictures ------------------------------------------------------------------------------------

void DrawPicture(Raster& target, const Raster& source, double x, double y, double px, double py, double degrees,
                 double scale, const Compose& compose) {
  for (double value : {x, y, px, py, degrees, scale, compose.opacity})
    if (!std::isfinite(value)) return;
  if (!(scale > 1.0 / 4096) || compose.opacity <= 0) return;
  x = Far(x), y = Far(y), px = Far(px), py = Far(py), scale = std::min(scale, 4096.0);
  double s, c;
  PointOnCircle(0, 0, 1, degrees, &s, &c);  // s = sin, c = -cos: undo the circle's sign below
  c = -c;
  // Where the source's corners land: the bounding box of the drawing.
  const double w = source.width(), h = source.height();
  double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
  for (const auto& corner : {std::array<double, 2>{-0.5, -0.5}, {w - 0.5, -0.5}, {-0.5, h - 0.5}, {w - 0.5, h - 0.5}}) {
    const double u = (corner[0] - px) * scale, v = (corner[1] - py) * scale;
    const double cx = x + u * c - v * s, cy = y + u * s + v * c;
    left = std::min(left, cx), right = std::max(right, cx), top = std::min(top, cy), bottom = std::max(bottom, cy);
  }
  const RasterClip& clip = target.clip();
  const int64_t x0 = std::max<int64_t>(clip.left, static_cast<int64_t>(std::floor(left)));
  const int64_t x1 = std::min<int64_t>(clip.right, static_cast<int64_t>(std::ceil(right)) + 1);
  const int64_t y0 = std::max<int64_t>(clip.top, static_cast<int64_t>(std::floor(top)));
  const int64_t y1 = std::min<int64_t>(clip.bottom, static_cast<int64_t>(std::ceil(bottom)) + 1);
  if (x0 >= x1 || y0 >= y1) return;
  // The source position of a target pixel, in 16.16 fixed point, stepped along each row.
  constexpr double kOne = 65536;
  const double inverse = 1 / scale;
  const auto step_x = static_cast<int64_t>(std::llround(c * inverse * kOne));
  const auto step_y = static_cast<int64_t>(std::llround(-s * inverse * kOne));
  const auto opacity = static_cast<uint32_t>(std::min(compose.opacity, 1.0) * 256 + 0.5);
  const int64_t width = source.width(), height = source.height();
  const size_t row_bytes = static_cast<size_t>(width) * 4;
  const uint32_t opaque_alpha = (255 * opacity + 128) >> 8;
  // The alpha-weighted colour of one source pixel; outside the picture, nothing.
  auto texel = [&](int64_t i, int64_t j, uint32_t* weighted, uint32_t* alpha) {
    if (i < 0 || j < 0 || i >= width || j >= height) return (void)(*alpha = 0);
    const uint8_t* p = source.PixelAt(i, j);
    const uint32_t colour = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    *alpha = compose.keyed && colour == compose.key ? 0 : 255u - p[3];
    for (int k = 0; k < 3; ++k) weighted[k] = p[k] * *alpha;
  };
  for (int64_t row = y0; row < y1; ++row) {
    int64_t from, to;
    target.ClipRow(row, &from, &to);
    from = std::max(from, x0), to = std::min(to, x1);
    if (from >= to) continue;
    const double dx = static_cast<double>(from) - x, dy = static_cast<double>(row) - y;
    int64_t u = std::llround((px + (dx * c + dy * s) * inverse) * kOne);
    int64_t v = std::llround((py + (-dx * s + dy * c) * inverse) * kOne);
    for (int64_t column = from; column < to; ++column, u += step_x, v += step_y) {
      const int64_t i = u >> 16, j = v >> 16;
      if (i < -1 || j < -1 || i >= width || j >= height) continue;
      const uint32_t fu = static_cast<uint32_t>(u >> 8) & 255, fv = static_cast<uint32_t>(v >> 8) & 255;
      if (i >= 0 && j >= 0 && i + 1 < width && j + 1 < height && !compose.keyed) {
        // Inside the picture, four opaque pixels (the common case): a plain weighted sum.
        const uint8_t* top_left = source.PixelAt(i, j);
        const uint8_t* bottom_left = top_left + row_bytes;
        if ((top_left[3] | top_left[7] | bottom_left[3] | bottom_left[7]) == 0) {
          const uint32_t a = (256 - fu) * (256 - fv), b = fu * (256 - fv), c2 = (256 - fu) * fv, d = fu * fv;
          uint32_t colour = 0;
          for (int m = 0; m < 3; ++m)
            colour =
                colour << 8 |
                (top_left[m] * a + top_left[4 + m] * b + bottom_left[m] * c2 + bottom_left[4 + m] * d + 32768) >> 16;
          BlendPixel(target.PixelAt(column, row), colour, opaque_alpha);
          continue;
        }
      }
      uint64_t sum[3] = {0, 0, 0};
      uint32_t sum_alpha = 0;
      const uint32_t weights[4] = {(256 - fu) * (256 - fv), fu * (256 - fv), (256 - fu) * fv, fu * fv};
      for (int k = 0; k < 4; ++k) {
        if (weights[k] == 0) continue;
        uint32_t weighted[3], alpha;
        texel(i + (k & 1), j + (k >> 1), weighted, &alpha);
        if (alpha == 0) continue;
        for (int m = 0; m < 3; ++m) sum[m] += (uint64_t{weighted[m]} * weights[k]) >> 8;
        sum_alpha += alpha * weights[k] >> 8;
      }
      if (sum_alpha == 0) continue;
      // sum_alpha: alpha x 256; colours: colour x alpha x 256.
      uint32_t colour = 0;
      for (int m = 0; m < 3; ++m) colour = colour << 8 | static_cast<uint32_t>((sum[m] + sum_alpha / 2) / sum_alpha);
      BlendPixel(target.PixelAt(column, row), colour, (sum_alpha * opacity + (1 << 15)) >> 16);
    }
  }
}

}  // namespace vexlan

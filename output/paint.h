// Anti-aliased drawing on a Raster: shapes become outlines (contours of points, in pixel coordinates
// where (x, y) is the centre of pixel x, y), outlines become a coverage mask through stb_truetype's
// polygon rasteriser (non-zero winding: a contour drawn the other way round cuts a hole), and the mask
// blends the colour into the surface within its clip.
//
// Angles are degrees clockwise from 12 o'clock, as everywhere on the canvas. Every input is clamped to
// +-kRasterFar and a NaN draws nothing, as for the pixel-exact shapes in raster.h.
//
// Nothing here allocates once its scratch (one per thread) has grown to the largest shape drawn so far.
#pragma once

#include <cstdint>
#include <vector>

#include "output/raster.h"

namespace vexlan {

enum class LineCap : uint8_t { kButt, kRound, kSquare };
enum class LineJoin : uint8_t { kRound, kMiter, kBevel };

// Contours of points; the last contour is the one being added to.
class Outline {
 public:
  void Clear() {
    points_.clear();
    counts_.clear();
  }
  void Start() { counts_.push_back(0); }
  void Add(double x, double y);
  // Points along the circle (cx, cy, radius) from `from` through `sweep` degrees (negative: counter-
  // clockwise), close enough that no chord strays more than a twentieth of a pixel from the arc.
  void AddArc(double cx, double cy, double radius, double from, double sweep);
  void ReverseLast();
  bool empty() const { return points_.empty(); }
  const std::vector<double>& points() const { return points_; }  // x, y, x, y, ...
  const std::vector<int>& counts() const { return counts_; }

 private:
  std::vector<double> points_;
  std::vector<int> counts_;
};

// Whether a pixel is drawn with its coverage (smooth) or wholly when at least half of it is covered.
struct Paint {
  uint32_t colour;  // 0xRRGGBB
  bool smooth;
};

// Fills the outline (non-zero winding).
void FillOutline(Raster& raster, const Outline& outline, const Paint& paint);

// The scratch outline of this thread, for building a shape before filling it.
Outline& ScratchOutline();

// Shape outlines, added to `outline` (which is not cleared).
void AddPolyline(Outline& outline, const double* xy, int count, bool closed, double width, LineCap cap, LineJoin join);
void AddDisc(Outline& outline, double cx, double cy, double radius);
// The annular sector between the two radii, clockwise from `from` through `sweep` degrees (0 < sweep
// <= 360); a zero inner radius makes a pie slice.
void AddRingSector(Outline& outline, double cx, double cy, double inner, double outer, double from, double sweep);
// The pixels x .. x + w - 1 by y .. y + h - 1, corners rounded to `radius`; with `hole`, the other way
// round (to cut it out of a larger one).
void AddRoundedRect(Outline& outline, double x, double y, double w, double h, double radius, bool hole = false);

// The clockwise sweep from `from` to `to`: (to - from) modulo 360, except that a whole turn or more in
// either direction is 360. Zero (nothing to draw) for equal or non-finite angles.
double ClockwiseSweep(double from, double to);

// The point at `degrees` on the circle (cx, cy, radius).
void PointOnCircle(double cx, double cy, double radius, double degrees, double* x, double* y);

// How a picture is drawn onto another: straight alpha (the fourth byte of each source pixel holds its
// transparency, 0 opaque), times `opacity`, skipping source pixels of colour `key` when `keyed`.
struct Compose {
  double opacity = 1;
  bool keyed = false;
  uint32_t key = 0;
};

// The picture `source` placed with its pixel (px, py) at (x, y) of the surface, turned clockwise by
// `degrees` and scaled by `scale`; bilinear filtering (nearest pixels when neither turned nor scaled).
void DrawPicture(Raster& target, const Raster& source, double x, double y, double px, double py, double degrees,
                 double scale, const Compose& compose);

// Blends `colour` into the pixel at `at` with coverage `alpha` (0 to 255), keeping straight alpha.
void BlendPixel(uint8_t* at, uint32_t colour, uint32_t alpha);

// Blends `colour` through a width x height coverage mask whose top-left pixel lands on (left, top),
// within the raster's clip. Not smooth: a pixel is drawn wholly where coverage is at least half.
void BlendMask(Raster& raster, const uint8_t* mask, int width, int height, int stride, int64_t left, int64_t top,
               uint32_t colour, bool smooth);

}  // namespace vexlan

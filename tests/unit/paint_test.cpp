#include "output/paint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/guarded_raster.h"

namespace vexlan {
namespace {

TEST(Paint, ClockwiseSweepWrapsAndKeepsWholeTurns) {
  EXPECT_EQ(ClockwiseSweep(330, 30), 60);
  EXPECT_EQ(ClockwiseSweep(-135, 135), 270);
  EXPECT_EQ(ClockwiseSweep(135, -135), 90);
  EXPECT_EQ(ClockwiseSweep(0, 360), 360);
  EXPECT_EQ(ClockwiseSweep(90, -630), 360);
  EXPECT_EQ(ClockwiseSweep(45, 45), 0);
  EXPECT_EQ(ClockwiseSweep(0, INFINITY), 0);
  EXPECT_EQ(ClockwiseSweep(NAN, 10), 0);
}

// The coverage a shape leaves, in pixels: its area, as the rasteriser measures it.
double Coverage(GuardedRaster& surface) {
  double total = 0;
  for (int32_t y = 0; y < surface.raster().height(); ++y)
    for (int32_t x = 0; x < surface.raster().width(); ++x) total += (surface.At(x, y) & 0xFF) / 255.0;
  return total;
}

TEST(Paint, ShapesCoverTheirAreaAndHolesCutByWinding) {
  constexpr double kPi = 3.14159265358979323846;
  struct Case {
    const char* name;
    std::function<void(Outline&)> shape;
    double area;
  };
  const double xy[] = {5, 30, 55, 30};
  const std::vector<Case> cases = {
      {"disc", [](Outline& o) { AddDisc(o, 30.3, 29.6, 20.5); }, kPi * 20.5 * 20.5},
      {"ring", [](Outline& o) { AddRingSector(o, 30, 30, 10, 20, 0, 360); }, kPi * 300},
      {"quarter of a ring", [](Outline& o) { AddRingSector(o, 30, 30, 10, 20, 100, 90); }, kPi * 75},
      {"rounded rectangle", [](Outline& o) { AddRoundedRect(o, 5, 5, 40, 30, 6); }, 1200 - (4 - kPi) * 36},
      {"a rectangle less a hole",
       [](Outline& o) { AddRoundedRect(o, 5, 5, 40, 30, 0), AddRoundedRect(o, 10, 10, 10, 10, 0, true); }, 1100},
      {"a line 4 wide, square caps",
       [&](Outline& o) { AddPolyline(o, xy, 2, false, 4, LineCap::kSquare, LineJoin::kMiter); }, 54 * 4},
  };
  for (const Case& c : cases) {
    GuardedRaster surface(60, 60);
    Outline& outline = ScratchOutline();
    c.shape(outline);
    FillOutline(surface.raster(), outline, Paint{0xFFFFFF, true});
    EXPECT_NEAR(Coverage(surface), c.area, c.area * 0.005) << c.name;
    EXPECT_TRUE(surface.GuardsIntact()) << c.name;
  }
}

TEST(Paint, HostileOutlinesAndPicturesStayInside) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> hostile = {nan, inf, -inf, 1e300, -1e300, 5e6, -0.0, 7.5, 1e-300};
  GuardedRaster surface(24, 16), sprite(5, 4);
  for (double a : hostile) {
    for (double b : hostile) {
      const double xy[] = {a, b, 3, 3, b, a, a, a};
      Outline& outline = ScratchOutline();
      AddPolyline(outline, xy, 4, true, b, LineCap::kRound, LineJoin::kMiter);
      AddPolyline(outline, xy, 4, false, a, LineCap::kSquare, LineJoin::kRound);
      AddDisc(outline, a, b, a);
      AddRingSector(outline, b, a, a, b, a, 360);
      AddRoundedRect(outline, a, b, b, a, a);
      FillOutline(surface.raster(), outline, Paint{0x123456, a > 0});
      Compose compose;
      compose.opacity = b;
      DrawPicture(surface.raster(), sprite.raster(), a, b, b, a, a, b, compose);
      DrawPicture(surface.raster(), sprite.raster(), 3, 3, 1, 1, a, 2, Compose{});
    }
  }
  EXPECT_TRUE(surface.GuardsIntact());
}

}  // namespace
}  // namespace vexlan

#include "output/raster.h"

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

TEST(Raster, KeepsTheRawImageLayout) {
  GuardedRaster surface(320, 240);
  surface.raster().Fill(0x010203);
  surface.raster().SetPixel(1, 2, 0x123456);
  const uint8_t* bytes = surface.raster().bytes();
  EXPECT_EQ(surface.raster().byte_size(), 307224u);
  for (size_t i = 0; i < kRawHeaderBytes; ++i) ASSERT_EQ(bytes[i], 0) << "the header stays zero";
  const uint8_t* pixel = bytes + 24 + 1280 * 2 + 4 * 1;
  EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 4), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0}));
  EXPECT_EQ(std::vector<uint8_t>(bytes + 307220, bytes + 307224), (std::vector<uint8_t>{1, 2, 3, 0}));
}

// ---- Shapes against pictures kept in tests/images/raster_shapes.txt ------------------------------
// After a deliberate change: VEXLAN_UPDATE_GOLDEN=1 rewrites the file; check the pictures by eye.

using Drawing = std::function<void(Raster&)>;
const std::vector<std::pair<std::string, Drawing>>& Shapes() {
  static const std::vector<std::pair<std::string, Drawing>> shapes = {
      {"thin shallow line", [](Raster& r) { r.Line(1, 1, 14, 6, 1, 1); }},
      {"thin steep line, ends given backward", [](Raster& r) { r.Line(9, 10, 3, 0, 1, 1); }},
      {"horizontal line 2 thick: 2 rows", [](Raster& r) { r.Line(2, 5, 12, 5, 1, 2); }},
      {"diagonal line 3 thick, round ends", [](Raster& r) { r.Line(3, 2, 12, 9, 1, 3); }},
      {"rectangle outline and filled", [](Raster& r) { r.Rect(1, 1, 6, 4, 1, false), r.Rect(9, 6, 4, 3, 1, true); }},
      {"circle outline radius 5", [](Raster& r) { r.Circle(7, 5, 5, 1, false); }},
      {"filled circle radius 3.5", [](Raster& r) { r.Circle(7, 5, 3.5, 1, true); }},
      {"arc 0 to 90 (12 to 3 o'clock), 2 thick", [](Raster& r) { r.Arc(5, 7, 5, 0, 90, 1, 2); }},
      {"gauge arc -135 to 135", [](Raster& r) { r.Arc(7, 5, 5, -135, 135, 1, 1); }},
      {"text Ag1, newline, ?", [](Raster& r) { r.Text(0, -1, "Ag1\n?", 1, 1); }},
  };
  return shapes;
}

std::string GoldenPath() { return std::string(VEXLAN_TEST_DATA) + "/images/raster_shapes.txt"; }

std::map<std::string, std::string> ReadGolden() {
  std::ifstream file(GoldenPath());
  std::map<std::string, std::string> pictures;
  std::string line, name;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("== ", 0) == 0)
      name = line.substr(3);
    else if (!name.empty() && !line.empty() && line.rfind("# ", 0) != 0)
      pictures[name] += line + "\n";
  }
  return pictures;
}

TEST(Raster, ShapesMatchTheirPictures) {
  std::map<std::string, std::string> drawn;
  for (const auto& [name, draw] : Shapes()) {
    GuardedRaster surface(16, 12);
    draw(surface.raster());
    drawn[name] = surface.Picture();
  }
  if (std::getenv("VEXLAN_UPDATE_GOLDEN") != nullptr) {
    std::ofstream file(GoldenPath(), std::ios::binary);
    file << "# Shapes drawn on a 16x12 canvas by tests/unit/raster_test.cpp ('#' drawn, '.' not).\n";
    for (const auto& [name, draw] : Shapes()) file << "== " << name << "\n" << drawn[name];
    file.close();
  }
  const std::map<std::string, std::string> golden = ReadGolden();
  for (const auto& [name, draw] : Shapes()) {
    auto kept = golden.find(name);
    ASSERT_NE(kept, golden.end()) << name << " has no picture in " << GoldenPath();
    EXPECT_EQ(drawn[name], kept->second) << name;
  }
}

// ---- Clipping: on a small surface, exactly the window of what a large one shows -----------------------

TEST(Raster, ClipsEveryShapeAtEveryEdgeAndCorner) {
  constexpr int32_t kWidth = 20, kHeight = 15, kMargin = 40;
  const std::vector<uint8_t> pattern = [] {
    std::vector<uint8_t> bytes(RasterBytes(9, 7));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
  }();
  // Each shape drawn around (x, y).
  const std::vector<std::pair<const char*, std::function<void(Raster&, double, double)>>> shapes = {
      {"pixel", [](Raster& r, double x, double y) { r.SetPixel(x, y, 1); }},
      {"rect outline", [](Raster& r, double x, double y) { r.Rect(x - 6, y - 4, 12, 9, 1, false); }},
      {"rect filled", [](Raster& r, double x, double y) { r.Rect(x - 6, y - 4, 12, 9, 1, true); }},
      {"thin line", [](Raster& r, double x, double y) { r.Line(x - 9, y - 4, x + 8, y + 5, 1, 1); }},
      {"steep line", [](Raster& r, double x, double y) { r.Line(x + 3, y - 9, x - 2, y + 9, 1, 1); }},
      {"thick line", [](Raster& r, double x, double y) { r.Line(x - 8, y + 6, x + 7, y - 5, 1, 4); }},
      {"circle", [](Raster& r, double x, double y) { r.Circle(x, y, 6, 1, false); }},
      {"disc", [](Raster& r, double x, double y) { r.Circle(x, y, 6, 1, true); }},
      {"arc", [](Raster& r, double x, double y) { r.Arc(x, y, 6, -100, 160, 1, 3); }},
      {"text", [](Raster& r, double x, double y) { r.Text(x - 8, y - 6, "W8\ng", 1, 2); }},
      {"blit", [&](Raster& r, double x, double y) { r.Blit(pattern.data(), 9, 7, x - 4, y - 3, 0, 0, 9, 7); }},
  };
  for (const auto& [name, draw] : shapes) {
    for (double y : {-30.0, -3.0, 7.0, 17.0, 44.0}) {
      for (double x : {-30.0, -3.0, 10.0, 22.0, 50.0}) {
        GuardedRaster small(kWidth, kHeight), large(kWidth + 2 * kMargin, kHeight + 2 * kMargin);
        draw(small.raster(), x, y);
        draw(large.raster(), x + kMargin, y + kMargin);
        ASSERT_TRUE(small.GuardsIntact()) << name << " at " << x << "," << y;
        for (int32_t row = 0; row < kHeight; ++row)
          for (int32_t column = 0; column < kWidth; ++column)
            ASSERT_EQ(small.At(column, row), large.At(column + kMargin, row + kMargin))
                << name << " at " << x << "," << y << ", pixel " << column << "," << row;
      }
    }
  }
}

TEST(Raster, BlitClipsTheSourceAreaAndCopiesWithinItself) {
  GuardedRaster source(4, 3), target(6, 5);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) source.raster().SetPixel(x, y, 0x100 * y + x + 1);
  // Asked for 3x3 at (-1, 1): the source's column -1 and row 3 do not exist; the rest lands shifted.
  target.raster().Blit(source.raster().bytes(), 4, 3, 2, 1, -1, 1, 3, 3);
  EXPECT_EQ(target.At(2, 1), 0u);
  EXPECT_EQ(target.At(3, 1), 0x101u);
  EXPECT_EQ(target.At(4, 2), 0x202u);
  EXPECT_EQ(target.At(3, 3), 0u);
  // Onto itself, one pixel down and right: the same as from a copy.
  GuardedRaster copy(6, 5);
  target.raster().Fill(0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) target.raster().SetPixel(x, y, 10 * y + x + 1);
  copy.raster().Blit(target.raster().bytes(), 6, 5, 0, 0, 0, 0, 6, 5);
  target.raster().Blit(target.raster().bytes(), 6, 5, 1, 1, 0, 0, 6, 5);
  for (int y = 1; y < 5; ++y)
    for (int x = 1; x < 6; ++x) ASSERT_EQ(target.At(x, y), copy.At(x - 1, y - 1)) << x << "," << y;
  EXPECT_TRUE(target.GuardsIntact());
}

// ---- Hostile numbers: never a write outside, never undefined behaviour (under the sanitizers) -------

TEST(Raster, HostileNumbersAreSafe) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> hostile = {nan, inf, -inf, 1e300, -1e300, 2147483648.0, -9.3e18, 5e6, -0.0, 7.5};
  GuardedRaster surface(24, 16);
  Raster& r = surface.raster();
  for (double a : hostile) {
    for (double b : hostile) {
      r.SetPixel(a, b, 1);
      r.Rect(a, 3, b, 4, 1, true);
      r.Rect(2, a, 5, b, 1, false);
      r.Line(a, b, 5, 5, 1, 1);
      r.Line(5, a, b, 5, 1, b);
      r.Line(a, 4, 9, b, 1, a);
      r.Circle(a, b, 4, 1, true);
      r.Circle(6, 6, a, 1, b > 0);
      r.Arc(6, 6, a, b, 90, 1, 2);
      r.Arc(a, b, 5, 10, 200, 1, b);
      r.Text(a, b, "Hi\nthere", 1, 2);
      r.Blit(surface.raster().bytes(), 24, 16, a, b, b, a, a, b);
      uint32_t colour;
      r.GetPixel(a, b, &colour);
    }
  }
  EXPECT_TRUE(surface.GuardsIntact());
}

TEST(Raster, HugeShapesCoverTheGuardedRasterAndNaNShapesDrawNothing) {
  struct Case {
    const char* name;
    std::function<void(Raster&)> draw;
    bool covers;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {"rect from far off to far off", [](Raster& r) { r.Rect(-1e300, -1e300, 2e300, 2e300, 1, true); }, true},
      {"disc of huge radius", [](Raster& r) { r.Circle(4, 4, 1e300, 1, true); }, true},
      {"arc band of huge thickness", [](Raster& r) { r.Arc(4, 4, 10, 0, 360, 1, 1e300); }, true},
      {"line of huge thickness", [](Raster& r) { r.Line(-1e9, 3, 1e9, 3, 1, 1e12); }, true},
      {"rect with a NaN width", [&](Raster& r) { r.Rect(0, 0, nan, 20, 1, true); }, false},
      {"line with a NaN end", [&](Raster& r) { r.Line(0, 0, nan, 5, 1, 3); }, false},
      {"disc with a NaN centre", [&](Raster& r) { r.Circle(nan, 4, 100, 1, true); }, false},
      {"arc with an infinite angle", [](Raster& r) { r.Arc(4, 4, 3, 0, INFINITY, 1, 9); }, false},
  };
  for (const Case& c : cases) {
    GuardedRaster surface(12, 9);
    c.draw(surface.raster());
    std::string picture = surface.Picture();
    picture.erase(std::remove(picture.begin(), picture.end(), '\n'), picture.end());
    EXPECT_EQ(picture, std::string(12 * 9, c.covers ? '#' : '.')) << c.name;
  }
}

// ---- Text measurements -----------------------------------------------------------------------------

TEST(Raster, MeasuresTextAsItDrawsIt) {
  struct Case {
    const char* text;
    int32_t scale;
    int64_t width, height;
  };
  // Advances in the font: 'A' 6, 'i' 3, '1' 6, space 6, '?' 7; 12 units per line.
  const Case cases[] = {
      {"", 1, 0, 0},          {"A", 1, 6, 12},        {"A\n", 1, 6, 12},       {"\n", 1, 0, 12},
      {"Ai\nA1 ", 1, 18, 24}, {"Ai\nA1 ", 3, 54, 72}, {"\x01\xff", 1, 14, 12}, {"a\n\nb", 2, 12, 72},
  };
  for (const Case& c : cases) {
    const TextSize size = MeasureText(c.text, c.scale);
    EXPECT_EQ(size.width, c.width) << '"' << c.text << "\" at " << c.scale;
    EXPECT_EQ(size.height, c.height) << '"' << c.text << "\" at " << c.scale;
    GuardedRaster surface(8, 8);
    EXPECT_EQ(surface.raster().Text(0, 0, c.text, 1, c.scale), c.width);
  }
  GuardedRaster strange(8, 12), question(8, 12);
  strange.raster().Text(0, 0, "\x80", 1, 1);
  question.raster().Text(0, 0, "?", 1, 1);
  EXPECT_EQ(strange.Picture(), question.Picture()) << "a byte outside printable ASCII shows as '?'";
}

}  // namespace
}  // namespace vexlan

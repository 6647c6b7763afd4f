// Broken, hostile and missing picture files through the resized path: a black image and a ResultCode,
// never a crash. This suite runs under AddressSanitizer too.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

class ImageFiles : public ModuleTest, public testing::WithParamInterface<const char*> {};

TEST_P(ImageFiles, ABrokenFileSendsABlackImage) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::string images = std::string(VEXLAN_TEST_DATA) + "/images/";
  ASSERT_EQ(state.Number("vexlan.SetImageFromFile('SFIP', 1, 1, 1, '" + images + "gradient_100x50.png', true)"), 0);
  ASSERT_EQ(state.Number("vexlan.SetImageFromFile('SFIP', 1, 1, 1, '" + images + GetParam() + "', true)"), 0);
  const auto image = sim::Image(kFip, 1, 0);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->size(), 230400u);
  EXPECT_TRUE(std::all_of(image->begin(), image->end(), [](uint8_t byte) { return byte == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Broken, ImageFiles,
                         testing::Values("broken_truncated.png", "broken_garbage.png", "broken_text.png",
                                         "broken_empty.png", "broken_oversized.png", "no_such_file.png"));

TEST_F(ModuleTest, AGoodFileFillsTheWholePanel) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::string file = std::string(VEXLAN_TEST_DATA) + "/images/transparent_80x60.png";
  ASSERT_EQ(state.Number("vexlan.SetImageFromFile('SFIP', 1, 1, 1, '" + file + "', true)"), 0);
  const auto image = sim::Image(kFip, 1, 0);
  ASSERT_TRUE(image.has_value());
  // Left half: the colour stored under full transparency (10, 200, 30); right half: opaque (200, 10, 30).
  EXPECT_EQ((*image)[0], 30);
  EXPECT_EQ((*image)[1], 200);
  EXPECT_EQ((*image)[2], 10);
  EXPECT_EQ((*image)[957], 30);
  EXPECT_EQ((*image)[958], 10);
  EXPECT_EQ((*image)[959], 200);
}

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& other) const { return r == other.r && g == other.g && b == other.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& p) {
  return out << "(" << p.r << ", " << p.g << ", " << p.b << ")";
}

Rgb PixelAt(const std::vector<uint8_t>& image, int x, int y) {
  const size_t at = 960 * static_cast<size_t>(239 - y) + 3 * static_cast<size_t>(x);
  return Rgb{image[at + 2], image[at + 1], image[at]};
}

class PictureTest : public ModuleTest {
 protected:
  // Shows `file` on panel 1, page 1, resized, and gives the device image sent.
  static std::vector<uint8_t> ShowFile(LuaState& state, const std::string& file) {
    const std::string path = std::string(VEXLAN_TEST_DATA) + "/images/" + file;
    EXPECT_EQ(state.Number("vexlan.SetImageFromFile('SFIP', 1, 1, 1, '" + path + "', true)"), 0);
    return sim::Image(kFip, 1, 0).value_or(std::vector<uint8_t>());
  }
};

// Where the pixels of a 100x50 picture whose left half is opaque, coloured (5x + 5, 5y + 5, 128) for
// source pixel (x, y), and whose right half is one colour, landed on the 320x240 panel.
struct Placement {
  int left = 0;   // a left-half colour, from within one source pixel of where the stretch takes it
  int right = 0;  // the right half's colour, in a column that maps into (or next to) the right half
  int black = 0;
  int other = 0;
};

Placement Place(const std::vector<uint8_t>& image, Rgb right) {
  Placement placed;
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      const Rgb p = PixelAt(image, x, y);
      const int column = x * 100 / 320;
      const int row = y * 50 / 240;
      if (p.b == 128 && p.r >= 5 && p.g >= 5 && p.r % 5 == 0 && p.g % 5 == 0) {
        const int sx = (p.r - 5) / 5;
        const int sy = (p.g - 5) / 5;
        if (sx < 50 && std::abs(sx - column) <= 1 && std::abs(sy - row) <= 1) {
          ++placed.left;
          continue;
        }
      }
      if (p == right && column >= 49) {
        ++placed.right;
      } else if (p == Rgb{0, 0, 0}) {
        ++placed.black;
      } else {
        ++placed.other;
      }
    }
  }
  return placed;
}

class WholePicture : public PictureTest, public testing::WithParamInterface<const char*> {};

// Premultiplied alpha at 300 and 96 dpi, 16 bits a sample at 300 dpi: whatever resolution the file
// records, its pixels fill the panel, each where the stretch puts it.
TEST_P(WholePicture, FillsThePanelWhateverResolutionTheFileRecords) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::vector<uint8_t> image = ShowFile(state, GetParam());
  ASSERT_EQ(image.size(), 230400u);
  const Rgb right = PixelAt(image, 319, 239);
  EXPECT_FALSE(right == (Rgb{0, 0, 0}));
  const Placement placed = Place(image, right);
  EXPECT_EQ(placed.left + placed.right, 320 * 240)
      << placed.black << " black and " << placed.other << " other pixels";
  EXPECT_GE(placed.left, 157 * 240);
  EXPECT_GE(placed.right, 157 * 240);
  EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{5, 5, 128}));
  EXPECT_EQ(PixelAt(image, 0, 239), (Rgb{5, 250, 128}));
  EXPECT_EQ(PixelAt(image, 319, 0), right);
}

INSTANTIATE_TEST_SUITE_P(Files, WholePicture,
                         testing::Values("premultiplied_100x50_300dpi.tif", "premultiplied_100x50_96dpi.tif",
                                         "rgb48_100x50_300dpi.tif"));

TEST_F(PictureTest, SixteenBitSamplesKeepTheirHighByte) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::vector<uint8_t> image = ShowFile(state, "rgb48_100x50_300dpi.tif");
  ASSERT_EQ(image.size(), 230400u);
  EXPECT_EQ(PixelAt(image, 319, 239), (Rgb{0, 0, 255}));
  EXPECT_EQ(Place(image, Rgb{0, 0, 255}).right, 240 * (320 - 160));
}

// 5-6-5 quadrants: red, green above; blue, mid grey (16, 32, 16 of 31, 63, 31) below. 80x60 on 320x240 is
// four times each way, so every panel pixel has one expected colour.
TEST_F(PictureTest, AFiveSixFiveBitmapShowsItsColours) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::vector<uint8_t> image = ShowFile(state, "rgb565_80x60.bmp");
  ASSERT_EQ(image.size(), 230400u);
  const Rgb expected[2][2] = {{{255, 0, 0}, {0, 255, 0}}, {{0, 0, 255}, {132, 130, 132}}};
  int wrong = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) wrong += !(PixelAt(image, x, y) == expected[y / 120][x / 160]);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(PixelAt(image, 0, 0), expected[0][0]);
  EXPECT_EQ(PixelAt(image, 319, 0), expected[0][1]);
  EXPECT_EQ(PixelAt(image, 0, 239), expected[1][0]);
  EXPECT_EQ(PixelAt(image, 319, 239), expected[1][1]);
}

}  // namespace
}  // namespace vexlan::test

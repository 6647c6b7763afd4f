// Broken, hostile and missing picture files through the resized path: a black image and a ResultCode,
// never a crash. This suite runs under AddressSanitizer too.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "output/image_header.h"
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

// Small files that would take seconds or gigabytes to decode, and would then show white, red or grey:
// 2^26 pixels at one bit, an SVG with a large blur (no format of the six), a progressive JPEG whose 33
// scans each make one decoder pass over 2^22 pixels again. Each is refused before any decoder runs.
class HostileFile : public ModuleTest, public testing::WithParamInterface<const char*> {};

TEST_P(HostileFile, SendsABlackImageAtOnce) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::string file = std::string(VEXLAN_TEST_DATA) + "/images/" + GetParam();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(state.Number("vexlan.SetImageFromFile('SFIP', 1, 1, 1, '" + file + "', true)"), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  const auto image = sim::Image(kFip, 1, 0);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->size(), 230400u);
  EXPECT_TRUE(std::all_of(image->begin(), image->end(), [](uint8_t byte) { return byte == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFile,
                         testing::Values("hostile_8192x8192_1bit.png", "hostile_blur.svg",
                                         "hostile_scans_2048x2048.jpg"));

// Within the bound: a 4K picture, and one of screen size at 16 bits a sample. Left half (200, 100, 50),
// right half (20, 40, 60), split exactly at the panel's middle column.
class OrdinaryPicture : public PictureTest, public testing::WithParamInterface<const char*> {};

TEST_P(OrdinaryPicture, ShowsBothHalves) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::vector<uint8_t> image = ShowFile(state, GetParam());
  ASSERT_EQ(image.size(), 230400u);
  int wrong = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) wrong += !(PixelAt(image, x, y) == (x < 160 ? Rgb{200, 100, 50} : Rgb{20, 40, 60}));
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(PixelAt(image, 159, 239), (Rgb{200, 100, 50}));
  EXPECT_EQ(PixelAt(image, 160, 0), (Rgb{20, 40, 60}));
}

INSTANTIATE_TEST_SUITE_P(Files, OrdinaryPicture, testing::Values("flat_3840x2160.png", "flat_1920x1080_16bit.png"));

// Frames red (255, 0, 249), then green: both platforms show the first frame, all of the panel.
TEST_F(PictureTest, AnAnimationShowsItsFirstFrame) {
  LuaState state;
  ASSERT_EQ(state.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  const std::vector<uint8_t> image = ShowFile(state, "animated_64x48.gif");
  ASSERT_EQ(image.size(), 230400u);
  int wrong = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) wrong += !(PixelAt(image, x, y) == Rgb{255, 0, 249});
  EXPECT_EQ(wrong, 0);
}

// Headers alone, as the reader sees them: a PNG signature, IHDR and IEND (checksums are not read).
std::vector<uint8_t> PngHeaders(uint32_t width, uint32_t height, uint8_t depth, uint8_t color_type) {
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (uint32_t value : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<uint8_t>(value >> shift));
  file.insert(file.end(), {depth, color_type, 0, 0, 0, 0, 0, 0, 0});
  file.insert(file.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0, 0, 0, 0});
  return file;
}

bool MayDecode(const std::vector<uint8_t>& file) {
  ImageHeader header;
  return MayDecodeImage(file.data(), file.size(), &header);
}

// 2^24 pixels at 8 bits a sample; at 16-bit RGBA (8 bytes a pixel) 64 MiB of them, 2^23.
TEST(DecodeBound, CountsPixelsAndTheBytesOfTheirSamples) {
  EXPECT_TRUE(MayDecode(PngHeaders(4096, 4096, 8, 6)));
  EXPECT_FALSE(MayDecode(PngHeaders(4096, 4097, 8, 2)));
  EXPECT_FALSE(MayDecode(PngHeaders(8192, 8192, 16, 2)));
  EXPECT_TRUE(MayDecode(PngHeaders(2048, 4096, 16, 6)));
  EXPECT_FALSE(MayDecode(PngHeaders(2048, 4097, 16, 6)));
  EXPECT_TRUE(MayDecode(PngHeaders(3840, 2160, 16, 6)));
  std::vector<uint8_t> truncated = PngHeaders(16, 16, 8, 2);
  truncated.resize(truncated.size() - 12);
  EXPECT_FALSE(MayDecode(truncated));
}

// A progressive JPEG passes over its whole picture once a scan: a 4K one of 16 scans (2^27 pixels in
// all) is decoded, one of 17 is not.
std::vector<uint8_t> ProgressiveJpegHeaders(uint16_t width, uint16_t height, int scans) {
  std::vector<uint8_t> file = {0xFF, 0xD8, 0xFF, 0xC2, 0, 17, 8, static_cast<uint8_t>(height >> 8),
                               static_cast<uint8_t>(height), static_cast<uint8_t>(width >> 8),
                               static_cast<uint8_t>(width), 3, 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0};
  for (int i = 0; i < scans; ++i) file.insert(file.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 0, 0, 0x55});
  file.insert(file.end(), {0xFF, 0xD9});
  return file;
}

TEST(DecodeBound, CountsAProgressiveJpegsPixelsOnceAScan) {
  EXPECT_TRUE(MayDecode(ProgressiveJpegHeaders(3840, 2160, 10)));
  EXPECT_TRUE(MayDecode(ProgressiveJpegHeaders(4096, 2048, 16)));
  EXPECT_FALSE(MayDecode(ProgressiveJpegHeaders(4096, 2048, 17)));
}

}  // namespace
}  // namespace vexlan::test

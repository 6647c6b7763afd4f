// The GDI+ decoder's ways onto the surface on Windows: the stretch from GDI+'s own rows against
// StretchBlt from a DIB, the row copy (here 5-6-5 pixels, which GDI reads only with bit-field masks, and
// premultiplied alpha, recorded at 300 and 96 dpi), the draw path (48-bit pixels), and the decode bound
// on what GDI+ made.
#include <gtest/gtest.h>

#include <windows.h>
// clang-format off
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "output/picture_surface.h"
#include "output/image_file.h"
#include "output/win/image_file_win_testing.h"

namespace vexlan {
namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb& other) const { return r == other.r && g == other.g && b == other.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& p) {
  return out << "(" << p.r << ", " << p.g << ", " << p.b << ")";
}

// A 320x240 picture surface as SetImageFromFile uses it; its copy buffer is laid out as a device image.
class Surface {
 public:
  Surface() : surface_(320, 240, 24) {}
  bool ok() const { return surface_.ok(); }
  DrawSurface* Begin() { return surface_.BeginDraw(); }
  void End() { surface_.EndDraw(); }
  const uint8_t* bytes() const { return surface_.copy_buffer(); }
  Rgb At(int x, int y) const {
    const uint8_t* pixel = surface_.copy_buffer() + 960 * (239 - y) + 3 * x;
    return Rgb{pixel[2], pixel[1], pixel[0]};
  }

 private:
  PictureSurface surface_;
};

std::u16string ImagePath(const char* file) {
  const std::string path = std::string(VEXLAN_TEST_DATA) + "/images/" + file;
  return std::u16string(path.begin(), path.end());
}

class PremultipliedFile : public testing::TestWithParam<const char*> {};

// Source pixel (x, y) of the left half is opaque (5x + 5, 5y + 5, 128); the right half stores (40, 20, 10)
// at alpha 51, which is (200, 100, 50) at one fifth coverage.
TEST_P(PremultipliedFile, FillsThePanelWithTheColoursBeforePremultiplication) {
  Surface surface;
  ASSERT_TRUE(surface.ok());
  DrawImageFile(surface.Begin(), ImagePath(GetParam()).c_str());
  surface.End();
  const Rgb translucent{200, 100, 50};
  int left = 0;
  int right = 0;
  int other = 0;
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      const Rgb p = surface.At(x, y);
      const int column = x * 100 / 320;
      const int row = y * 50 / 240;
      if (p == translucent && column >= 49) {
        ++right;
      } else if (p.b == 128 && p.r % 5 == 0 && p.g % 5 == 0 && p.r >= 5 && p.g >= 5 && (p.r - 5) / 5 < 50 &&
                 std::abs((p.r - 5) / 5 - column) <= 1 && std::abs((p.g - 5) / 5 - row) <= 1) {
        ++left;
      } else {
        ++other;
      }
    }
  }
  EXPECT_EQ(other, 0) << left << " left-half and " << right << " right-half pixels";
  EXPECT_EQ(left, 160 * 240);
  EXPECT_EQ(right, 160 * 240);
  EXPECT_EQ(surface.At(0, 0), (Rgb{5, 5, 128}));
  EXPECT_EQ(surface.At(159, 239), (Rgb{250, 250, 128}));
  EXPECT_EQ(surface.At(160, 0), translucent);
  EXPECT_EQ(surface.At(319, 239), translucent);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, PremultipliedFile,
                         testing::Values("premultiplied_100x50_300dpi.tif", "premultiplied_100x50_96dpi.tif"));

class GdiplusSession : public testing::Test {
 protected:
  void SetUp() override {
    GdiplusStartupInput input;
    ASSERT_EQ(GdiplusStartup(&token_, &input, nullptr), Ok);
  }
  void TearDown() override {
    if (token_ != 0) GdiplusShutdown(token_);
  }
  ULONG_PTR token_ = 0;
};

// GDI+ gives 5-6-5 pixels as they are; a DIB read as 5-5-5 would turn mid grey 0x8410 into (8, 0, 132).
TEST_F(GdiplusSession, FiveSixFivePixelsKeepTheirColours) {
  constexpr int kWidth = 80;
  constexpr int kHeight = 60;
  std::vector<uint16_t> pixels(kWidth * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      pixels[y * kWidth + x] = y < 30 ? (x < 40 ? 0xF800 : 0x07E0) : (x < 40 ? 0x001F : 0x8410);
  GpBitmap* picture = nullptr;
  ASSERT_EQ(GdipCreateBitmapFromScan0(kWidth, kHeight, kWidth * 2, PixelFormat16bppRGB565,
                                      reinterpret_cast<BYTE*>(pixels.data()), &picture),
            Ok);
  PixelFormat format = 0;
  GdipGetImagePixelFormat(picture, &format);
  EXPECT_EQ(format, PixelFormat16bppRGB565);

  Surface surface;
  ASSERT_TRUE(surface.ok());
  DrawGdiplusBitmap(surface.Begin(), picture);
  surface.End();
  GdipDisposeImage(picture);

  const Rgb expected[2][2] = {{{255, 0, 0}, {0, 255, 0}}, {{0, 0, 255}, {132, 130, 132}}};
  int wrong = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) wrong += !(surface.At(x, y) == expected[y / 120][x / 160]);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(surface.At(0, 0), expected[0][0]);
  EXPECT_EQ(surface.At(319, 0), expected[0][1]);
  EXPECT_EQ(surface.At(0, 239), expected[1][0]);
  EXPECT_EQ(surface.At(319, 239), expected[1][1]);
}

// 48-bit pixels take GDI+'s draw path. Recorded at 300 dpi, the picture still fills the panel, each
// source pixel where the stretch puts it: eight regions of 25x25 source pixels, one colour each, with
// samples 0 or 65535 only.
TEST_F(GdiplusSession, ADrawnPictureFillsThePanelWhateverItsResolution) {
  constexpr int kWidth = 100;
  constexpr int kHeight = 50;
  auto region_colour = [](int region) {
    return Rgb{region & 1 ? 255 : 0, region & 2 ? 255 : 0, region & 4 ? 255 : 0};
  };
  std::vector<uint16_t> pixels(kWidth * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const Rgb colour = region_colour(y / 25 * 4 + x / 25);
      uint16_t* pixel = &pixels[(y * kWidth + x) * 3];  // blue, green, red
      pixel[0] = colour.b ? 65535 : 0;
      pixel[1] = colour.g ? 65535 : 0;
      pixel[2] = colour.r ? 65535 : 0;
    }
  }
  GpBitmap* picture = nullptr;
  ASSERT_EQ(GdipCreateBitmapFromScan0(kWidth, kHeight, kWidth * 6, PixelFormat48bppRGB,
                                      reinterpret_cast<BYTE*>(pixels.data()), &picture),
            Ok);
  ASSERT_EQ(GdipBitmapSetResolution(picture, 300, 300), Ok);

  Surface surface;
  ASSERT_TRUE(surface.ok());
  DrawGdiplusBitmap(surface.Begin(), picture);
  surface.End();
  GdipDisposeImage(picture);

  int right = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) right += surface.At(x, y) == region_colour(y / 120 * 4 + x / 80);
  EXPECT_EQ(right, 320 * 240);
  EXPECT_EQ(surface.At(319, 239), (Rgb{255, 255, 255}));
  EXPECT_EQ(surface.At(80, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(surface.At(0, 120), (Rgb{0, 0, 255}));
}

// 24-bit and straight 32-bit pixels are stretched from GDI+'s own rows; premultiplied ones go through a
// DIB and StretchBlt. Opaque, the same noise must come out byte for byte, shrunk or stretched.
TEST_F(GdiplusSession, GdiplusRowsAreStretchedAsStretchBltStretchesThem) {
  std::mt19937 random(5);
  for (const auto& [width, height] : {std::pair{1920, 1080}, {333, 77}, {100, 50}, {321, 241}, {1, 1}, {7, 500}}) {
    std::vector<uint32_t> pixels(size_t(width) * height);
    for (uint32_t& pixel : pixels) pixel = random() | 0xFF000000u;
    auto draw = [&](PixelFormat format) {
      const int pixel_bytes = format == PixelFormat24bppRGB ? 3 : 4;
      const INT stride = (width * pixel_bytes + 3) / 4 * 4;
      std::vector<uint8_t> rows(size_t(stride) * height + 1);  // room for the last pixel's fourth byte
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          std::memcpy(&rows[size_t(y) * stride + size_t(x) * pixel_bytes], &pixels[size_t(y) * width + x], 4);
      GpBitmap* picture = nullptr;
      EXPECT_EQ(GdipCreateBitmapFromScan0(width, height, stride, format, rows.data(), &picture), Ok);
      Surface surface;
      DrawGdiplusBitmap(surface.Begin(), picture);
      surface.End();
      GdipDisposeImage(picture);
      return std::vector<uint8_t>(surface.bytes(), surface.bytes() + 230400);
    };
    const std::vector<uint8_t> through_dib = draw(PixelFormat32bppPARGB);
    EXPECT_NE(std::count(through_dib.begin(), through_dib.end(), 0), 230400) << width << "x" << height;
    EXPECT_EQ(draw(PixelFormat24bppRGB), through_dib) << width << "x" << height;
    EXPECT_EQ(draw(PixelFormat32bppARGB), through_dib) << width << "x" << height;
    EXPECT_EQ(draw(PixelFormat32bppRGB), through_dib) << width << "x" << height;
  }
}

// The decode bound holds for what GDI+ made, too: 2^24 pixels are drawn, one column more is not.
TEST_F(GdiplusSession, APictureBeyondTheDecodeBoundIsNotDrawn) {
  for (const int width : {4096, 4097}) {
    GpBitmap* picture = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(width, 4096, 0, PixelFormat24bppRGB, nullptr, &picture), Ok);
    GpGraphics* graphics = nullptr;
    ASSERT_EQ(GdipGetImageGraphicsContext(picture, &graphics), Ok);
    GdipGraphicsClear(graphics, 0xFFFFFFFF);
    GdipDeleteGraphics(graphics);

    Surface surface;
    ASSERT_TRUE(surface.ok());
    DrawGdiplusBitmap(surface.Begin(), picture);
    surface.End();
    GdipDisposeImage(picture);
    EXPECT_EQ(surface.At(319, 239), width == 4096 ? (Rgb{255, 255, 255}) : (Rgb{0, 0, 0})) << width;
  }
}

}  // namespace
}  // namespace vexlan

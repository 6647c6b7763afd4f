#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "output/image_canvas.h"
#include "output/image_convert.h"
#include "output/stretch.h"
#include "output/wide_text.h"

namespace vexlan {
namespace {

std::vector<WideChar> Wide(const char* text, int32_t* count) {
  WideChar* buffer = nullptr;
  *count = ToWideString(text, &buffer);
  std::vector<WideChar> units(buffer, buffer + std::strlen(text) + 1);
  std::free(buffer);
  return units;
}

TEST(ToWideString, CountsTheTerminatorAndMapsBytesToUnitsInTheCLocale) {
  int32_t count = 0;
  std::vector<WideChar> units = Wide("a.png", &count);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(units, (std::vector<WideChar>{u'a', u'.', u'p', u'n', u'g', 0}));
  units = Wide("", &count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(units[0], 0);
  units = Wide("caf\xE9", &count);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(units[3], 0x00E9) << "in the default locale a byte becomes the unit of the same value";
}

std::vector<uint8_t> RandomRaw() {
  std::vector<uint8_t> raw(kRawImageBytes);
  std::mt19937 random(7);
  for (uint8_t& byte : raw) byte = static_cast<uint8_t>(random());
  return raw;
}

TEST(ConvertRawImage, PlacesCornersAsTheDeviceExpects) {
  std::vector<uint8_t> raw = RandomRaw();
  std::vector<uint8_t> device(kDeviceImageBytes);
  ConvertRawImage(raw.data(), device.data());
  // Top-left source pixel: bytes 24..26 (red, green, blue) become the last row's first pixel.
  EXPECT_EQ(device[229440], raw[26]);
  EXPECT_EQ(device[229441], raw[25]);
  EXPECT_EQ(device[229442], raw[24]);
  // Bottom-left source pixel at 305944 becomes bytes 0..2; bottom-right at 307220 bytes 957..959.
  EXPECT_EQ(device[0], raw[305944 + 2]);
  EXPECT_EQ(device[2], raw[305944]);
  EXPECT_EQ(device[957], raw[307220 + 2]);
  EXPECT_EQ(device[958], raw[307220 + 1]);
  EXPECT_EQ(device[959], raw[307220]);
}

class ConversionPathTest : public testing::TestWithParam<ConversionPath> {};

TEST_P(ConversionPathTest, MatchesTheByteLoopAndIgnoresHeaderAndFourthBytes) {
  std::vector<uint8_t> raw = RandomRaw();
  std::vector<uint8_t> fast(kDeviceImageBytes + 64, 0xAA);
  std::vector<uint8_t> plain(kDeviceImageBytes, 0x55);
  if (!ConvertRawImageWith(GetParam(), raw.data(), fast.data())) GTEST_SKIP() << "not on this processor";
  ConvertRawImageScalar(raw.data(), plain.data());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), fast.begin()));
  EXPECT_TRUE(std::all_of(fast.begin() + kDeviceImageBytes, fast.end(), [](uint8_t b) { return b == 0xAA; }))
      << "nothing written past the picture";
  for (size_t i = 0; i < kRawHeaderBytes; ++i) raw[i] ^= 0xFF;
  for (size_t i = kRawHeaderBytes + 3; i < kRawImageBytes; i += 4) raw[i] ^= 0xFF;
  ConvertRawImageWith(GetParam(), raw.data(), fast.data());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), fast.begin()));
}

INSTANTIATE_TEST_SUITE_P(EveryPath, ConversionPathTest,
                         testing::Values(ConversionPath::kAvx512Vbmi, ConversionPath::kAvx2, ConversionPath::kSsse3,
                                         ConversionPath::kBytes));

TEST(ImageCanvas, StartsBlackAndCopiesOnEndDraw) {
  ImageCanvas canvas(320, 240, 24);
  ASSERT_TRUE(canvas.ok());
  EXPECT_EQ(canvas.byte_size(), 230400);
  EXPECT_EQ(CanvasByteSize(321, 3, 24), 321 * 3 * 3);
  canvas.BeginDraw();
  canvas.EndDraw();
  const uint8_t* copy = canvas.copy_buffer();
  EXPECT_TRUE(std::all_of(copy, copy + canvas.byte_size(), [](uint8_t b) { return b == 0; }));
}

TEST(ImageCanvas, ACanvasThatCannotBeCreatedSaysSoAndCanBeDestroyed) {
  ImageCanvas canvas(-320, 240, 24);
  EXPECT_FALSE(canvas.ok());
  EXPECT_EQ(canvas.BeginDraw(), nullptr);
  canvas.EndDraw();
}

// Cross-checked against GDI's StretchBlt in COLORONCOLOR mode (the Windows build, under Wine).
TEST(Stretch, PicksTheSourcePixelsStretchBltPicks) {
  auto columns = [](int32_t source, int32_t n) {
    std::vector<int32_t> out;
    for (int32_t d = 0; d < n; ++d) out.push_back(StretchSourceIndex(d, source, 320, StretchAxis::kColumns));
    return out;
  };
  EXPECT_EQ(columns(640, 4), (std::vector<int32_t>{1, 3, 5, 7})) << "halving keeps the second of each pair";
  EXPECT_EQ(columns(100, 12), (std::vector<int32_t>{0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 3, 3})) << "3.2 times across";
  EXPECT_EQ(columns(1000, 4), (std::vector<int32_t>{2, 5, 8, 12}));
  EXPECT_EQ(columns(128, 3), (std::vector<int32_t>{0, 0, 0})) << "a tie while stretching columns rounds down";
  EXPECT_EQ(StretchSourceIndex(1, 160, 240, StretchAxis::kRows), 1) << "and rounds up on rows";
  EXPECT_EQ(StretchSourceIndex(2, 1000, 240, StretchAxis::kRows), 11) << "a tie while shrinking rows rounds down";
  EXPECT_EQ(StretchSourceIndex(3, 1000, 320, StretchAxis::kColumns), 12) << "and rounds up on columns";
  for (int32_t size : {1, 7, 319, 320, 321, 5000})
    for (int32_t d : {0, 319}) {
      const int32_t s = StretchSourceIndex(d, size, 320, StretchAxis::kColumns);
      EXPECT_GE(s, 0);
      EXPECT_LT(s, size);
    }
  EXPECT_EQ(StretchSourceIndex(17, 320, 320, StretchAxis::kColumns), 17);
}

}  // namespace
}  // namespace vexlan

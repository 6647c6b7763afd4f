#include "output/image_convert.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vexlan {
namespace {

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

}  // namespace
}  // namespace vexlan

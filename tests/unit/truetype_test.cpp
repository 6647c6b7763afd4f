#include "output/truetype.h"

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

std::vector<uint8_t> DejaVuSans() {
  std::ifstream file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

uint32_t Read32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
uint16_t Read16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

// Every text of printable ASCII and a few others, measured and drawn: with a font that passed its
// checks, nothing may read outside the file (the sanitizers watch).
void Exercise(Font& font) {
  GuardedRaster surface(64, 48);
  for (double size : {1.0, 9.5, 40.0, 512.0}) {
    font.Measure("AgWy 0123 \xc2\xb0\xe2\x86\x91", size);
    font.Draw(surface.raster(), 2, 2, "AgWy 0123 \xc2\xb0\n\xe2\x86\x91 {}", size, 0xFFFFFF, TextAlign::kCentre,
              TextBaseline::kMiddle, true);
  }
  EXPECT_TRUE(surface.GuardsIntact());
}

TEST(TrueType, TheBuiltInFontPassesAndMalformedFontsAreRefusedOrSafe) {
  ASSERT_NE(DefaultFont(), nullptr);
  const std::vector<uint8_t> font = DejaVuSans();
  ASSERT_GT(font.size(), 100000u);
  ASSERT_NE(Font::FromBytes(font.data(), font.size()), nullptr);
  EXPECT_EQ(Font::FromBytes(font.data(), 0), nullptr);
  EXPECT_EQ(Font::FromBytes(reinterpret_cast<const uint8_t*>("OTTO\0\0\0\0\0\0\0\0"), 12), nullptr);
  for (size_t cut : {size_t{11}, size_t{200}, font.size() / 3})
    EXPECT_EQ(Font::FromBytes(font.data(), cut), nullptr) << "cut at " << cut;
  // A composite glyph that names itself: a loop stb_truetype would follow until the stack ran out.
  std::vector<uint8_t> looped = font;
  size_t loca = 0, glyf = 0;
  for (uint16_t i = 0; i < Read16(font, 4); ++i) {
    const size_t record = 12 + 16 * i;
    if (std::memcmp(&font[record], "loca", 4) == 0) loca = Read32(font, record + 8);
    if (std::memcmp(&font[record], "glyf", 4) == 0) glyf = Read32(font, record + 8);
  }
  const bool long_loca = Read16(font, [&] {
                           for (uint16_t i = 0; i < Read16(font, 4); ++i)
                             if (std::memcmp(&font[12 + 16 * i], "head", 4) == 0)
                               return static_cast<size_t>(Read32(font, 12 + 16 * i + 8));
                           return size_t{0};
                         }() + 50) != 0;
  bool made = false;
  for (uint32_t glyph = 0; glyph < 4000 && !made; ++glyph) {
    const size_t at = glyf + (long_loca ? Read32(font, loca + 4 * glyph) : 2u * Read16(font, loca + 2 * glyph));
    const size_t end =
        glyf + (long_loca ? Read32(font, loca + 4 * glyph + 4) : 2u * Read16(font, loca + 2 * glyph + 2));
    if (end > at && static_cast<int16_t>(Read16(font, at)) < 0) {
      looped[at + 12] = static_cast<uint8_t>(glyph >> 8);
      looped[at + 13] = static_cast<uint8_t>(glyph);
      made = true;
    }
  }
  ASSERT_TRUE(made) << "the font has a composite glyph";
  EXPECT_EQ(Font::FromBytes(looped.data(), looped.size()), nullptr) << "a composite naming itself";
  // Bytes changed at random, in the tables' directory and throughout: refused, or drawn safely.
  std::mt19937 random(21);
  int refused = 0;
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> changed = font;
    for (int i = 0; i < 8; ++i) {
      const size_t at = round % 2 == 0 ? random() % 400 : random() % changed.size();
      changed[at] = static_cast<uint8_t>(random());
    }
    std::unique_ptr<Font> parsed = Font::FromBytes(changed.data(), changed.size());
    if (parsed == nullptr) {
      ++refused;
      continue;
    }
    Exercise(*parsed);
  }
  EXPECT_GT(refused, 0);
}

TEST(TrueType, MalformedUtf8ShowsAsTheReplacementCharacter) {
  Font& font = *DefaultFont();
  // Each byte of a malformed sequence shows as one U+FFFD.
  for (const std::string malformed : {"\xff", "\xc0\x80", "\xe2\x82", "\xed\xa0\x80", "\x80", "\xf4\x90\x80\x80"}) {
    std::string replacements;
    for (size_t i = 0; i < malformed.size(); ++i) replacements += "\xef\xbf\xbd";
    EXPECT_EQ(font.Measure(malformed, 20).width, font.Measure(replacements, 20).width) << malformed;
  }
  const int64_t replacement = font.Measure("\xef\xbf\xbd", 20).width;
  EXPECT_NE(font.Measure("\xc2\xb0", 20).width, replacement) << "the degree sign is in the font";
  EXPECT_EQ(font.Measure("", 20).height, 0);
  EXPECT_NEAR(font.Measure("a\nb", 20).height, 2 * font.Measure("a", 20).height, 1);
}

}  // namespace
}  // namespace vexlan

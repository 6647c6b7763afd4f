#include "output/wide_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

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

}  // namespace
}  // namespace vexlan

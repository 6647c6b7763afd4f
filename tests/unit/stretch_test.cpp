#include "output/stretch.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexlan {
namespace {

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

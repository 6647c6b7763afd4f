#include "module/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vexlan {
namespace {

struct NumberCase {
  double value;
  int32_t expected;
};
class ToInt32Test : public testing::TestWithParam<NumberCase> {};
TEST_P(ToInt32Test, TruncatesTowardZeroAndSaturatesToMinimum) {
  EXPECT_EQ(ToInt32(GetParam().value), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Numbers, ToInt32Test,
                         testing::Values(NumberCase{2.9, 2}, NumberCase{-0.5, 0}, NumberCase{-2.9, -2},
                                         NumberCase{3, 3}, NumberCase{2147483647.0, INT32_MAX},
                                         NumberCase{-2147483648.0, INT32_MIN}, NumberCase{2147483648.0, INT32_MIN},
                                         NumberCase{1e300, INT32_MIN}, NumberCase{-1e300, INT32_MIN},
                                         NumberCase{std::numeric_limits<double>::quiet_NaN(), INT32_MIN},
                                         NumberCase{std::numeric_limits<double>::infinity(), INT32_MIN}));

struct ResultCase {
  uint32_t hresult;
  int code;
};
class ToResultCodeTest : public testing::TestWithParam<ResultCase> {};
TEST_P(ToResultCodeTest, MapsTheTable) {
  EXPECT_EQ(ToResultCode(static_cast<HResult>(GetParam().hresult)), GetParam().code);
}
INSTANTIATE_TEST_SUITE_P(Table, ToResultCodeTest,
                         testing::Values(ResultCase{0, 0}, ResultCase{0x80070006, 1}, ResultCase{0x80004001, 2},
                                         ResultCase{0x80070057, 3}, ResultCase{0xFF040001, 4},
                                         ResultCase{0x8007000E, 5}, ResultCase{1, -1}, ResultCase{0x80004005, -1},
                                         ResultCase{0xFF040002, -1}, ResultCase{0x7FFFFFFF, -1}));

}  // namespace
}  // namespace vexlan

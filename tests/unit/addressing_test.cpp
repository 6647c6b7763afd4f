#include "devices/device_kinds.h"
#include "module/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "events/trio_registration.h"

namespace vexlan {
namespace {

TEST(TagFromString, ExactCaseSensitiveTextUpToItsTerminator) {
  EXPECT_EQ(TagFromString("SFIP"), DeviceTypeTag::kSfip);
  EXPECT_EQ(TagFromString("X52P"), DeviceTypeTag::kX52p);
  EXPECT_EQ(TagFromString("X52P\0more"), DeviceTypeTag::kX52p);
  for (const char* other : {"sfip", "x52p", "SFIP ", "SFI", "", "UNKN", "SFIPX"})
    EXPECT_EQ(TagFromString(other), DeviceTypeTag::kUnkn) << other;
  EXPECT_EQ(static_cast<uint32_t>(DeviceTypeTag::kSfip), 0x53464950u);
  EXPECT_STREQ(TagString(DeviceTypeTag::kX52p), "X52P");
}

TEST(TagFromTypeGuid, KnowsTheTwoModelsAndNothingElse) {
  EXPECT_EQ(TagFromTypeGuid(kDeviceTypeFip), DeviceTypeTag::kSfip);
  EXPECT_EQ(TagFromTypeGuid(kDeviceTypeX52Pro), DeviceTypeTag::kX52p);
  Guid almost = kDeviceTypeFip;
  almost.data4[7] ^= 1;
  EXPECT_EQ(TagFromTypeGuid(almost), DeviceTypeTag::kUnkn);
  EXPECT_EQ(TagFromTypeGuid(Guid{}), DeviceTypeTag::kUnkn);
}

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

// The soft-button trio: when one member changes, what DirectOutput is asked.
struct TrioCase {
  bool old_set, new_set, others_set;
  TrioRegistration expected;
};
class TrioTest : public testing::TestWithParam<TrioCase> {};
TEST_P(TrioTest, RegistersOnFirstMemberAndEndsOnLast) {
  const TrioCase& c = GetParam();
  EXPECT_EQ(DecideTrioRegistration(c.old_set, c.new_set, c.others_set), c.expected);
}
INSTANTIATE_TEST_SUITE_P(DecisionTable, TrioTest,
                         testing::Values(TrioCase{false, false, false, TrioRegistration::kUnregister},
                                         TrioCase{false, false, true, TrioRegistration::kNone},
                                         TrioCase{false, true, false, TrioRegistration::kRegister},
                                         TrioCase{false, true, true, TrioRegistration::kNone},
                                         TrioCase{true, false, false, TrioRegistration::kUnregister},
                                         TrioCase{true, false, true, TrioRegistration::kNone},
                                         TrioCase{true, true, false, TrioRegistration::kNone},
                                         TrioCase{true, true, true, TrioRegistration::kNone}));

}  // namespace
}  // namespace vexlan

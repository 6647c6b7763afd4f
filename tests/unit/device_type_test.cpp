#include "devices/device_kinds.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vexlan

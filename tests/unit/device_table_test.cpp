#include "devices/device_table_testing.h"
#include "devices/device_table.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vexlan {
namespace {

HardwareIdentity Identity(const char* instance_id, const char* serial, const char* product = "") {
  HardwareIdentity identity{};
  std::strncpy(identity.instance_id, instance_id, sizeof identity.instance_id - 1);
  std::strncpy(identity.serial, serial, sizeof identity.serial - 1);
  std::strncpy(identity.product, product, sizeof identity.product - 1);
  return identity;
}

void* Handle(uintptr_t n) { return reinterpret_cast<void*>(n); }

class DeviceTableTest : public testing::Test {
 protected:
  // An arrival as the device manager commits it: by handle, else by identity, else a new slot.
  int32_t Arrive(uintptr_t handle, const Guid& type, const HardwareIdentity& identity) {
    return table_
        .CommitArrival(Handle(handle), table_.FindSlotByHandle(Handle(handle)) < 0, type, identity, type,
                       Guid{static_cast<uint32_t>(handle), 0, 0, {}}, identity)
        .slot;
  }
  int32_t Find(const char* tag, int32_t ordinal) { return DeviceTableTesting::FindSlot(table_, tag, ordinal); }
  int32_t Ordinal(int32_t slot) { return DeviceTableTesting::OrdinalOfSlot(table_, slot); }
  DeviceTable table_;
};

TEST_F(DeviceTableTest, AddressesCountAbsentSlotsAndFindSlotInvertsOrdinalOfSlot) {
  Arrive(1, kDeviceTypeX52Pro, Identity("a", "1"));
  Arrive(2, kDeviceTypeX52Pro, Identity("b", "2"));
  Arrive(3, kDeviceTypeFip, Identity("c", "3"));
  table_.MarkAbsent(Handle(1));
  EXPECT_EQ(Find("X52P", 1), 0);
  EXPECT_EQ(Find("X52P", 2), 1);
  EXPECT_EQ(Find("SFIP", 1), 2);
  EXPECT_EQ(Find("SFIP", 2), -1);
  EXPECT_EQ(Find("X52P", 0), -1);
  void* handle = nullptr;
  EXPECT_EQ(table_.ResolvePresent("X52P", 1, &handle), -1) << "absent slot";
  EXPECT_EQ(table_.ResolvePresent("X52P", 2, &handle), 1);
  EXPECT_EQ(handle, Handle(2));
  EXPECT_EQ(Ordinal(2), 1);
  EXPECT_EQ(Ordinal(-1), -1);
  EXPECT_EQ(Ordinal(3), -1);
  for (int32_t slot = 0; slot < DeviceTableTesting::count(table_); ++slot) {
    const DeviceSlot s = DeviceTableTesting::Snapshot(table_, slot);
    EXPECT_EQ(Find(TagStringOfType(s.type), Ordinal(slot)), slot);
  }
  const DeviceTypeTag x52 = DeviceTypeTag::kX52p;
  EXPECT_EQ(table_.CountPresent(nullptr), 2);
  EXPECT_EQ(table_.CountPresent(&x52), 1);
}

TEST_F(DeviceTableTest, SameHandleGetsItsSlotBackRefilledWithButtonStateKept) {
  Arrive(10, kDeviceTypeFip, Identity("id", "s"));
  uint32_t previous = 0;
  table_.ExchangeButtonState(Handle(10), 5, &previous);
  table_.MarkAbsent(Handle(10));
  EXPECT_EQ(table_.MarkAbsent(Handle(10)).slot, 0) << "a second removal answers the slot again";
  EXPECT_EQ(Arrive(10, kDeviceTypeX52Pro, Identity("other", "t")), 0);
  const DeviceSlot slot = DeviceTableTesting::Snapshot(table_, 0);
  EXPECT_EQ(slot.present, 1);
  EXPECT_EQ(TagFromTypeGuid(slot.type), DeviceTypeTag::kX52p) << "refilled from what the handle reports now";
  EXPECT_STREQ(slot.identity.instance_id, "other");
  EXPECT_EQ(slot.last_buttons, 5u);
}

TEST_F(DeviceTableTest, NewHandleSameIdentityTakesTheFirstMatchingAbsentSlot) {
  Arrive(1, kDeviceTypeFip, Identity("id", "s"));
  Arrive(2, kDeviceTypeFip, Identity("id", "s"));  // a second unit, same identity: present slots never match
  EXPECT_EQ(DeviceTableTesting::count(table_), 2);
  table_.MarkAbsent(Handle(1));
  table_.MarkAbsent(Handle(2));
  EXPECT_EQ(Arrive(3, kDeviceTypeFip, Identity("id", "s")), 0) << "the lower of two absent slots";
  EXPECT_EQ(DeviceTableTesting::Snapshot(table_, 0).handle, Handle(3));
  EXPECT_EQ(Arrive(4, kDeviceTypeFip, Identity("id", "s")), 1);
  EXPECT_EQ(Arrive(5, kDeviceTypeFip, Identity("id", "s")), 2) << "no absent slot left: a new one";
}

TEST_F(DeviceTableTest, IdentityNeedsTypeInstanceIdAndSerialButNotProduct) {
  Arrive(1, kDeviceTypeFip, Identity("id", "s", "Panel"));
  table_.MarkAbsent(Handle(1));
  EXPECT_EQ(Arrive(2, kDeviceTypeX52Pro, Identity("id", "s")), 1) << "another type";
  EXPECT_EQ(Arrive(3, kDeviceTypeFip, Identity("ID", "s")), 2) << "case matters";
  EXPECT_EQ(Arrive(4, kDeviceTypeFip, Identity("id", "t")), 3) << "another serial";
  EXPECT_EQ(Arrive(5, kDeviceTypeFip, Identity("id", "s", "Other product")), 0);
}

TEST_F(DeviceTableTest, EmptyIdentitiesMatchEmptyAbsentSlotsOfTheirType) {
  Arrive(1, kDeviceTypeFip, Identity("", ""));
  Arrive(2, kDeviceTypeFip, Identity("x", "y"));
  table_.MarkAbsent(Handle(2));
  table_.MarkAbsent(Handle(1));
  EXPECT_EQ(Arrive(3, kDeviceTypeFip, Identity("", "")), 0);
  EXPECT_EQ(Arrive(4, kDeviceTypeFip, Identity("", "")), 2) << "slot 1 has an identity of its own";
}

TEST_F(DeviceTableTest, AnAbsentSlotsOldHandleIsTakenByWhateverArrivesUnderIt) {
  Arrive(7, kDeviceTypeFip, Identity("fip", "1"));
  table_.MarkAbsent(Handle(7));
  EXPECT_EQ(Arrive(7, kDeviceTypeX52Pro, Identity("x52", "2")), 0);
  EXPECT_STREQ(DeviceTableTesting::Snapshot(table_, 0).identity.serial, "2");
}

TEST_F(DeviceTableTest, AFullTableRecordsNothingMore) {
  for (uintptr_t h = 1; h <= 10; ++h) Arrive(h, kDeviceTypeFip, Identity("id", std::to_string(h).c_str()));
  table_.MarkAbsent(Handle(4));
  EXPECT_EQ(Arrive(11, kDeviceTypeFip, Identity("id", "new")), -1);
  EXPECT_EQ(DeviceTableTesting::count(table_), 10);
  EXPECT_EQ(DeviceTableTesting::Snapshot(table_, 3).present, 0) << "unchanged";
  EXPECT_EQ(table_.MarkAbsent(Handle(99)).slot, -1);
  EXPECT_EQ(Arrive(12, kDeviceTypeFip, Identity("id", "4")), 3) << "an absent slot is still found by identity";
}

TEST_F(DeviceTableTest, PresentSlotOfHandleAndExchangeButtonStateNameTheSlotOnlyWhilePresent) {
  Arrive(1, kDeviceTypeX52Pro, Identity("a", "1"));
  Arrive(2, kDeviceTypeFip, Identity("b", "2"));
  Arrive(3, kDeviceTypeFip, Identity("c", "3"));
  SlotName name = table_.PresentSlotOfHandle(Handle(3));
  EXPECT_EQ(name.slot, 2);
  EXPECT_STREQ(TagString(name.tag), "SFIP");
  EXPECT_EQ(name.ordinal, 2);
  uint32_t previous = 7;
  name = table_.ExchangeButtonState(Handle(3), 5, &previous);
  EXPECT_EQ(name.slot, 2);
  EXPECT_EQ(name.ordinal, 2);
  EXPECT_EQ(previous, 0u);
  table_.MarkAbsent(Handle(3));
  EXPECT_EQ(table_.PresentSlotOfHandle(Handle(3)).slot, -1);
  EXPECT_EQ(table_.PresentSlotOfHandle(Handle(42)).slot, -1);
  EXPECT_EQ(table_.ExchangeButtonState(Handle(3), 1, &previous).slot, -1) << "an absent slot keeps its mask";
  EXPECT_EQ(DeviceTableTesting::Snapshot(table_, 2).last_buttons, 5u);
}

}  // namespace
}  // namespace vexlan

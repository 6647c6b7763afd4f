// What tests read of the device table beside its production interface: whole slots, the slot count,
// and the addressing rules one at a time.
#pragma once

#include <cstring>

#include "devices/device_table.h"

namespace vexlan {

class DeviceTableTesting {
 public:
  static int32_t count(const DeviceTable& table) {
    platform::FastMutexLock lock(table.mutex_);
    return table.count_;
  }
  // A copy of the slot (all zero outside the table).
  static DeviceSlot Snapshot(const DeviceTable& table, int32_t slot) {
    platform::FastMutexLock lock(table.mutex_);
    DeviceSlot copy;
    std::memset(&copy, 0, sizeof copy);
    if (slot >= 0 && slot < kMaxDevices) copy = table.slots_[slot];
    return copy;
  }
  static int32_t FindSlot(const DeviceTable& table, const char* tag, int32_t ordinal) {
    platform::FastMutexLock lock(table.mutex_);
    return table.FindSlotLocked(tag, ordinal);
  }
  static int32_t OrdinalOfSlot(const DeviceTable& table, int32_t slot) {
    platform::FastMutexLock lock(table.mutex_);
    return table.OrdinalOfSlotLocked(slot);
  }
  static SlotName NameOfSlot(const DeviceTable& table, int32_t slot) {
    platform::FastMutexLock lock(table.mutex_);
    return table.NameOfSlotLocked(slot);
  }
};

inline const char* TagStringOfType(const Guid& type) { return TagString(TagFromTypeGuid(type)); }

}  // namespace vexlan

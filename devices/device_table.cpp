#include "devices/device_table.h"

#include <cstring>

namespace vexlan {

DeviceTable::DeviceTable() { Clear(); }

void DeviceTable::Clear() {
  platform::FastMutexLock lock(mutex_);
  std::memset(slots_, 0, sizeof slots_);
  count_ = 0;
}

int32_t DeviceTable::FindSlotLocked(const char* tag, int32_t ordinal) const {
  const DeviceTypeTag wanted = TagFromString(tag);
  int32_t n = 1;
  for (int32_t i = 0; i < count_; ++i) {
    if (slots_[i].tag != wanted) continue;
    if (n == ordinal) return i;
    ++n;
  }
  return -1;
}

int32_t DeviceTable::OrdinalOfSlotLocked(int32_t slot) const {
  if (slot < 0 || slot >= count_) return -1;
  const DeviceTypeTag tag = slots_[slot].tag;
  int32_t n = 1;
  for (int32_t i = 0; i < slot; ++i)
    if (slots_[i].tag == tag) ++n;
  return n;
}

SlotName DeviceTable::NameOfSlotLocked(int32_t slot) const {
  if (slot < 0 || slot >= count_) return SlotName{};
  return SlotName{slot, slots_[slot].tag, OrdinalOfSlotLocked(slot)};
}

int32_t DeviceTable::FindSlotByHandleLocked(void* handle) const {
  for (int32_t i = 0; i < count_; ++i)
    if (slots_[i].handle == handle) return i;
  return -1;
}

int32_t DeviceTable::FindAbsentSlotByIdentityLocked(const Guid& type, const HardwareIdentity& identity) const {
  for (int32_t i = 0; i < count_; ++i) {
    const DeviceSlot& slot = slots_[i];
    if (slot.present == 0 && SameGuid(slot.type, type) && std::strcmp(slot.identity.instance_id, identity.instance_id) == 0 &&
        std::strcmp(slot.identity.serial, identity.serial) == 0) {
      return i;
    }
  }
  return -1;
}

int32_t DeviceTable::ResolvePresent(const char* tag, int32_t ordinal, void** handle) const {
  platform::FastMutexLock lock(mutex_);
  const int32_t slot = FindSlotLocked(tag, ordinal);
  if (slot < 0 || slot >= count_ || slots_[slot].present == 0) return -1;
  *handle = slots_[slot].handle;
  return slot;
}

int32_t DeviceTable::CountPresent(const DeviceTypeTag* filter) const {
  platform::FastMutexLock lock(mutex_);
  int32_t n = 0;
  for (int32_t i = 0; i < count_; ++i)
    if (slots_[i].present != 0 && (filter == nullptr || slots_[i].tag == *filter)) ++n;
  return n;
}

SlotName DeviceTable::PresentSlotOfHandle(void* handle) const {
  platform::FastMutexLock lock(mutex_);
  const int32_t slot = FindSlotByHandleLocked(handle);
  if (slot < 0 || slots_[slot].present == 0) return SlotName{};
  return NameOfSlotLocked(slot);
}

SlotName DeviceTable::ExchangeButtonState(void* handle, uint32_t mask, uint32_t* previous) {
  platform::FastMutexLock lock(mutex_);
  const int32_t slot = FindSlotByHandleLocked(handle);
  if (slot < 0 || slots_[slot].present == 0) return SlotName{};
  *previous = slots_[slot].last_buttons;
  slots_[slot].last_buttons = mask;
  return NameOfSlotLocked(slot);
}

int32_t DeviceTable::FindSlotByHandle(void* handle) const {
  platform::FastMutexLock lock(mutex_);
  return FindSlotByHandleLocked(handle);
}

SlotName DeviceTable::MarkAbsent(void* handle) {
  platform::FastMutexLock lock(mutex_);
  const int32_t slot = FindSlotByHandleLocked(handle);
  if (slot >= 0) slots_[slot].present = 0;
  return NameOfSlotLocked(slot);
}

SlotName DeviceTable::CommitArrival(void* handle, bool match_identity, const Guid& match_type,
                                   const HardwareIdentity& match, const Guid& type, const Guid& instance,
                                   const HardwareIdentity& identity) {
  platform::FastMutexLock lock(mutex_);
  int32_t slot = FindSlotByHandleLocked(handle);
  if (slot < 0 && match_identity) slot = FindAbsentSlotByIdentityLocked(match_type, match);
  if (slot < 0) {
    if (count_ == kMaxDevices) return SlotName{};
    slot = count_++;
  }
  DeviceSlot& s = slots_[slot];
  s.handle = handle;
  s.present = 1;
  s.type = type;
  s.tag = TagFromTypeGuid(type);
  s.instance = instance;
  s.identity = identity;
  return NameOfSlotLocked(slot);
}

}  // namespace vexlan

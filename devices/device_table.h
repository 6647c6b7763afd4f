// The process-wide table of up to 10 devices seen since the device manager was last opened from the
// closed state. Slots are appended and marked present or absent, never removed or reordered, so that a
// script's (tag, ordinal) keeps naming one physical unit across unplugging.
//
// Consistency: one short lock guards every read and write of the table. It is never held while
// DirectOutput, Lua or the identity lookup runs, so a reader on any thread sees each arrival or removal
// either not at all or whole.
#pragma once

#include <cstdint>

#include "directoutput/directoutput_api.h"
#include "devices/device_kinds.h"
#include "platform/mutex.h"

namespace vexlan {

inline constexpr int32_t kMaxDevices = 10;

struct HardwareIdentity {
  char product[32];
  char instance_id[64];
  char serial[32];
};

struct DeviceSlot {
  void* handle;
  Guid type;
  DeviceTypeTag tag;  // of `type`, worked out when the device arrives
  Guid instance;
  uint8_t present;
  uint32_t last_buttons;  // written only by the soft-button fan-out; survives removal
  HardwareIdentity identity;
};

// What the event fan-out needs to name a slot to Lua.
struct SlotName {
  int32_t slot = -1;
  DeviceTypeTag tag = DeviceTypeTag::kUnkn;
  int32_t ordinal = -1;
};

class DeviceTable {
 public:
  DeviceTable();

  void Clear() EXCLUDES(mutex_);

  // --- Reads for Lua calls and events, each one consistent snapshot. ---
  // The slot addressed by (tag, ordinal) when it exists and is present, with its handle; else -1.
  int32_t ResolvePresent(const char* tag, int32_t ordinal, void** handle) const EXCLUDES(mutex_);
  // Present devices, of one tag or of all.
  int32_t CountPresent(const DeviceTypeTag* filter) const EXCLUDES(mutex_);
  // The present slot holding `handle`, named for Lua; slot -1 when there is none.
  SlotName PresentSlotOfHandle(void* handle) const EXCLUDES(mutex_);
  // As PresentSlotOfHandle, and in the same step stores `mask` as that slot's last soft-button state,
  // giving the one it replaces in `previous`. Stores nothing when there is no such slot.
  SlotName ExchangeButtonState(void* handle, uint32_t mask, uint32_t* previous) EXCLUDES(mutex_);

  // --- Arrival and removal (the device manager's bookkeeping). ---
  int32_t FindSlotByHandle(void* handle) const EXCLUDES(mutex_);
  // The two changes name the slot they changed (slot -1 when none) for the device-change fan-out.
  SlotName MarkAbsent(void* handle) EXCLUDES(mutex_);
  // Commits one arrival in a single step: the slot that holds `handle`; else, when `match_identity`,
  // the first absent slot of `match_type` with the same identity; else a new slot. The slot is then
  // present with `handle` and the filled values. Slot -1 (changing nothing) when the table is full.
  SlotName CommitArrival(void* handle, bool match_identity, const Guid& match_type, const HardwareIdentity& match,
                        const Guid& type, const Guid& instance, const HardwareIdentity& identity) EXCLUDES(mutex_);

 private:
  friend class DeviceTableTesting;  // devices/device_table_testing.h

  // --- The addressing rules: FindSlotLocked and OrdinalOfSlotLocked are inverse to each other. ---
  // The slot of the `ordinal`-th device of `tag`'s type, present or not; -1 when there is none.
  int32_t FindSlotLocked(const char* tag, int32_t ordinal) const REQUIRES(mutex_);
  // The slot's 1-based position among the slots of its type; -1 for a slot not in use.
  int32_t OrdinalOfSlotLocked(int32_t slot) const REQUIRES(mutex_);
  int32_t FindSlotByHandleLocked(void* handle) const REQUIRES(mutex_);
  SlotName NameOfSlotLocked(int32_t slot) const REQUIRES(mutex_);
  int32_t FindAbsentSlotByIdentityLocked(const Guid& type, const HardwareIdentity& identity) const REQUIRES(mutex_);

  mutable platform::FastMutex mutex_;
  DeviceSlot slots_[kMaxDevices] GUARDED_BY(mutex_);
  int32_t count_ GUARDED_BY(mutex_) = 0;
};

}  // namespace vexlan

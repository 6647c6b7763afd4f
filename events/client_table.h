// The per-client records the event fan-out works on: for each of up to 10 Lua states that opened the
// module, its callback references and the gate that keeps its state to one thread at a time. Entries
// are handed out and given back by the client registry (module/); everything here reads them.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "devices/device_table.h"
#include "devices/device_kinds.h"
#include "platform/mutex.h"

struct lua_State;

namespace vexlan {

inline constexpr int kMaxClients = 10;
inline constexpr int kEventQueueCapacity = 1024;
inline constexpr int32_t kNoReference = -1;  // LUA_REFNIL

enum SlotCallback {
  kPageCallback = 0,
  kSoftButtonCallback = 1,
  kSoftButtonDownCallback = 2,
  kSoftButtonUpCallback = 3
};

// Everything one callback needs, copied on the notifying thread, so that it can wait in a queue.
struct ClientEvent {
  enum class Kind : uint8_t { kDeviceChange, kPage, kSoftButton };
  Kind kind;
  bool flag;  // added, or page active
  int32_t slot;
  DeviceTypeTag tag;
  int32_t ordinal;
  uint32_t value;  // page number, or the new button mask
  uint32_t down;
  uint32_t up;
};

// Who may run Lua code in the client's state right now.
enum StateOwner : uint8_t {
  kOwnedByScript,  // the state's own thread (the default: it is running the script)
  kLent,           // the script waits in Listen: notifiers may enter while the state's lent bit is set
  kClosed,         // the entry is free or its state is closing: nothing enters or queues
};

// Registry references of the kinds' tag strings, made in the client's state before its entry is taken
// (no Lua allocation happens under a lock), so that a callback's tag is never hashed.
struct TagReferences {
  TagReferences() {
    for (int32_t& reference : of) reference = kNoReference;
  }
  int32_t of[kDeviceTypeTagCount];  // by TagIndex
};

struct ClientEntry {
  int index = 0;                           // position in the table: this entry's bit among the lent states
  // The Lua thread callbacks run on: made by the module when the state opened it and anchored there until
  // the client closes, so that no script's coroutine, suspended or collected, is ever entered. Null: free.
  std::atomic<lua_State*> state{nullptr};
  TagReferences tags;                      // set before `state` is published
  std::atomic<int32_t> device_change_reference{kNoReference};
  std::atomic<int32_t> slot_references[kMaxDevices][4];

  // The gate. Which thread may enter a lent state is decided by the lent bits (dispatch); `gate` guards
  // only the queue and waiting. Nothing of it is held while Lua code runs.
  std::atomic<uint8_t> owner{kClosed};
  std::atomic<int> pending{0};  // events in the queue
  std::atomic<int> waiters{0};  // threads waiting for a notifier to give the state back
  // The thread running the client's callbacks, innermost first; none while none runs. Written by whoever
  // is inside the state, read by any thread to learn whether it is the one.
  std::atomic<std::thread::id> callback_thread{};
  // Whoever is inside the state alone touches these two.
  bool held_by_script = false;     // the script's thread is inside its lent state, delivering in Listen
  bool parked_in_delivery = false;  // a Listen nested in that delivery has lent the state again
  platform::FastMutex gate;
  platform::FastCondition state_given_back;
  int queue_head GUARDED_BY(gate) = 0;
  int queue_size GUARDED_BY(gate) = 0;
  uint64_t dropped_events GUARDED_BY(gate) = 0;
  ClientEvent queue[kEventQueueCapacity] GUARDED_BY(gate);

  int32_t SlotReference(int32_t slot, SlotCallback which) const {
    return slot_references[slot][which].load(std::memory_order_acquire);
  }
};

class ClientTable {
 public:
  static ClientTable& Instance();

  ClientEntry& entry(int index) { return entries_[index]; }

 private:
  ClientTable();

  ClientEntry entries_[kMaxClients];
};

}  // namespace vexlan

// The per-Lua-state client records: each state that opened the module owns one ClientEntry holding its
// callback references and the gate that keeps its state to one thread at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "devices/device_table.h"
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
  uint8_t tag;  // 0 "SFIP", 1 "X52P", 2 "UNKN"
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

struct ClientEntry {
  int index = 0;                           // position in the registry: this entry's lent bit
  std::atomic<lua_State*> state{nullptr};  // null: the entry is free
  int32_t anchor_reference = kNoReference;
  std::atomic<int32_t> device_change_reference{kNoReference};
  std::atomic<int32_t> slot_references[kMaxDevices][4];
  int32_t tag_references[3] = {kNoReference, kNoReference, kNoReference};  // "SFIP", "X52P", "UNKN"

  // The gate. Which thread may enter a lent state is decided by the registry's lent bits; the mutex
  // guards only the queue and waiting. Nothing of it is held while Lua code runs.
  std::atomic<uint8_t> owner{kClosed};
  std::atomic<int> pending{0};  // events in the queue
  std::atomic<int> waiters{0};  // threads waiting for a notifier to give the state back
  std::mutex gate;
  std::condition_variable notifier_left;
  int queue_head = 0;
  int queue_size = 0;
  uint64_t dropped_events = 0;
  ClientEvent queue[kEventQueueCapacity];

  int32_t SlotReference(int32_t slot, SlotCallback which) const {
    return slot_references[slot][which].load(std::memory_order_acquire);
  }
};

class ClientRegistry {
 public:
  static ClientRegistry& Instance();

  // Takes the first free entry for `state`, all references reset; null when all 10 are in use.
  ClientEntry* RegisterClient(lua_State* state, int32_t anchor_reference) EXCLUDES(lock_);
  // Gives `entry` back: no event reaches its state afterwards. Releases the anchor reference.
  void UnregisterClient(lua_State* state, ClientEntry* entry) EXCLUDES(lock_);
  // The first entry, in entry order, whose state is exactly `state` (a coroutine finds nothing).
  ClientEntry* FindClient(lua_State* state);
  ClientEntry& entry(int index) { return entries_[index]; }
  int32_t client_count() const;
  // Bit i set: client i's script waits in Listen and no notifier is inside its state. A notifier takes
  // every lent state at once with one exchange, and gives them back with one or.
  std::atomic<uint32_t>& lent_states() { return lent_states_; }

 private:
  ClientRegistry();

  mutable platform::Mutex lock_;
  ClientEntry entries_[kMaxClients];
  int32_t client_count_ GUARDED_BY(lock_) = 0;
  std::atomic<uint32_t> lent_states_{0};
};

}  // namespace vexlan

#include "events/dispatch.h"

#include <string_view>

#include "module/lua_api.h"

namespace vexlan {
namespace {

const char* const kTagStrings[3] = {"SFIP", "X52P", "UNKN"};

bool TakeOwnership(ClientEntry& entry, uint8_t from, uint8_t to) {
  uint8_t expected = from;
  return entry.owner.compare_exchange_strong(expected, to, std::memory_order_seq_cst);
}

void PushTagAndOrdinal(lua_State* state, ClientEntry& entry, const ClientEvent& event) {
  lua_rawgeti(state, LUA_REGISTRYINDEX, entry.tag_references[event.tag]);  // no hashing per call
  lua_pushnumber(state, event.ordinal);
}

// One protected call; the error value of a failed call is popped so the stack stays balanced.
void ProtectedCall(lua_State* state, int arguments) {
  if (lua_pcall(state, arguments, 0, 0) != 0) lua_pop(state, 1);
}

void CallWithMask(lua_State* state, ClientEntry& entry, int32_t reference, const ClientEvent& event, uint32_t mask) {
  lua_rawgeti(state, LUA_REGISTRYINDEX, reference);
  PushTagAndOrdinal(state, entry, event);
  lua_pushnumber(state, mask);
  ProtectedCall(state, 3);
}

// Runs the client's callbacks for one event. The caller owns the state; the references are read now,
// so a callback registered or cleared while the event waited is honoured.
void Deliver(lua_State* state, ClientEntry& entry, const ClientEvent& event) {
  if (!lua_checkstack(state, 5)) return;  // the function and up to four arguments
  switch (event.kind) {
    case ClientEvent::Kind::kDeviceChange: {
      const int32_t reference = entry.device_change_reference.load(std::memory_order_acquire);
      if (reference == kNoReference) break;
      lua_rawgeti(state, LUA_REGISTRYINDEX, reference);
      PushTagAndOrdinal(state, entry, event);
      lua_pushboolean(state, event.flag);
      ProtectedCall(state, 3);
      break;
    }
    case ClientEvent::Kind::kPage: {
      const int32_t reference = entry.SlotReference(event.slot, kPageCallback);
      if (reference == kNoReference) break;
      lua_rawgeti(state, LUA_REGISTRYINDEX, reference);
      PushTagAndOrdinal(state, entry, event);
      lua_pushnumber(state, event.value);
      lua_pushboolean(state, event.flag);
      ProtectedCall(state, 4);
      break;
    }
    case ClientEvent::Kind::kSoftButton: {
      int32_t reference = entry.SlotReference(event.slot, kSoftButtonCallback);
      if (reference != kNoReference) CallWithMask(state, entry, reference, event, event.value);
      reference = entry.SlotReference(event.slot, kSoftButtonDownCallback);
      if (reference != kNoReference && event.down != 0) CallWithMask(state, entry, reference, event, event.down);
      reference = entry.SlotReference(event.slot, kSoftButtonUpCallback);
      if (reference != kNoReference && event.up != 0) CallWithMask(state, entry, reference, event, event.up);
      break;
    }
  }
}

// Queue operations; the caller holds the gate.
void Push(ClientEntry& entry, const ClientEvent& event) {
  if (entry.queue_size == kEventQueueCapacity) {  // full: the oldest goes
    entry.queue_head = (entry.queue_head + 1) % kEventQueueCapacity;
    --entry.queue_size;
    ++entry.dropped_events;
  }
  entry.queue[(entry.queue_head + entry.queue_size) % kEventQueueCapacity] = event;
  ++entry.queue_size;
  entry.pending.store(entry.queue_size, std::memory_order_seq_cst);
}

bool Pop(ClientEntry& entry, ClientEvent* event) {
  if (entry.queue_size == 0) return false;
  *event = entry.queue[entry.queue_head];
  entry.queue_head = (entry.queue_head + 1) % kEventQueueCapacity;
  --entry.queue_size;
  entry.pending.store(entry.queue_size, std::memory_order_seq_cst);
  return true;
}

void DrainQueue(ClientEntry& entry, lua_State* state) {
  for (;;) {
    if (entry.pending.load(std::memory_order_seq_cst) == 0) return;  // the common case takes no lock
    ClientEvent event;
    {
      std::lock_guard<std::mutex> gate(entry.gate);
      if (!Pop(entry, &event)) return;
    }
    Deliver(state, entry, event);
  }
}

// The way out for whoever owns the state: deliver what waits, park, and look once more, since an event
// may have been queued between the last look and the parking (its notifier then found the state owned).
void DrainThenPark(ClientEntry& entry, lua_State* state) {
  for (;;) {
    DrainQueue(entry, state);
    entry.owner.store(kParked, std::memory_order_seq_cst);
    if (entry.pending.load(std::memory_order_seq_cst) == 0) break;
    if (!TakeOwnership(entry, kParked, kOwnedByNotifier)) break;  // another thread took it, and the queue
    // Once parked, the entry may have been closed and given to another state: take its state afresh.
    state = entry.state.load(std::memory_order_acquire);
  }
  if (entry.waiters.load(std::memory_order_seq_cst) > 0) {
    { std::lock_guard<std::mutex> gate(entry.gate); }  // a waiter that saw the old owner is now waiting
    entry.notifier_left.notify_all();
  }
}

// Waits, as one of the entry's waiters, until `take` succeeds, or the state is in no hands that `take`
// could take it from (closed, or already the script's).
template <typename Take>
void WaitForNotifierToLeave(ClientEntry& entry, Take take) {
  std::unique_lock<std::mutex> gate(entry.gate);
  entry.waiters.fetch_add(1, std::memory_order_seq_cst);
  for (;;) {
    if (take()) break;
    const uint8_t owner = entry.owner.load(std::memory_order_seq_cst);
    if (owner == kParked) continue;  // the notifier left between the two looks: take it now
    if (owner != kOwnedByNotifier) break;
    entry.notifier_left.wait(gate);  // it notifies under this lock after parking, so no wake-up is lost
  }
  entry.waiters.fetch_sub(1, std::memory_order_seq_cst);
}

}  // namespace

void Dispatch(ClientEntry& entry, const ClientEvent& event) {
  // The script waits in Listen: enter now.
  if (TakeOwnership(entry, kParked, kOwnedByNotifier)) {
    lua_State* state = entry.state.load(std::memory_order_acquire);
    Deliver(state, entry, event);
    DrainThenPark(entry, state);
    return;
  }
  {
    std::lock_guard<std::mutex> gate(entry.gate);
    if (entry.owner.load(std::memory_order_seq_cst) == kClosed) return;
    Push(entry, event);
  }
  // The owner may have parked since: then deliver what waits.
  if (TakeOwnership(entry, kParked, kOwnedByNotifier))
    DrainThenPark(entry, entry.state.load(std::memory_order_acquire));
}

bool ParkForListen(ClientEntry& entry, lua_State* state) {
  // Owned by anybody but the script (a callback calling Listen on a notifier's thread, or a closing
  // state): there is nothing to lend.
  if (entry.owner.load(std::memory_order_seq_cst) != kOwnedByScript) return false;
  DrainThenPark(entry, state);
  return true;
}

void ReturnFromListen(ClientEntry& entry) {
  if (TakeOwnership(entry, kParked, kOwnedByScript)) return;
  WaitForNotifierToLeave(entry, [&] { return TakeOwnership(entry, kParked, kOwnedByScript); });
}

void OpenGate(ClientEntry& entry, lua_State* state) {
  for (int i = 0; i < 3; ++i) {
    lua_pushstring(state, kTagStrings[i]);
    entry.tag_references[i] = luaL_ref(state, LUA_REGISTRYINDEX);
  }
  std::lock_guard<std::mutex> gate(entry.gate);
  entry.queue_head = 0;
  entry.queue_size = 0;
  entry.pending.store(0);
  entry.dropped_events = 0;
  entry.owner.store(kOwnedByScript, std::memory_order_seq_cst);
}

void CloseGate(ClientEntry& entry) {
  WaitForNotifierToLeave(
      entry, [&] { return TakeOwnership(entry, kOwnedByScript, kClosed) || TakeOwnership(entry, kParked, kClosed); });
  std::lock_guard<std::mutex> gate(entry.gate);
  entry.owner.store(kClosed, std::memory_order_seq_cst);
  entry.queue_size = 0;
  entry.pending.store(0);
}

bool IsParked(ClientEntry& entry) { return entry.owner.load(std::memory_order_seq_cst) == kParked; }

uint64_t DroppedEvents(ClientEntry& entry) {
  std::lock_guard<std::mutex> gate(entry.gate);
  return entry.dropped_events;
}

uint8_t TagIndex(const char* tag) {
  for (uint8_t i = 0; i < 3; ++i)
    if (tag == kTagStrings[i] || std::string_view(tag) == kTagStrings[i]) return i;
  return 2;
}

}  // namespace vexlan

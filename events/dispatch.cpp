#include "events/dispatch.h"

#include <string_view>

#include "module/lua_api.h"

namespace vexlan {
namespace {

const char* const kTagStrings[3] = {"SFIP", "X52P", "UNKN"};

std::atomic<uint32_t>& LentStates() { return ClientRegistry::Instance().lent_states(); }

uint32_t BitOf(const ClientEntry& entry) { return 1u << entry.index; }

// Takes `entry`'s state if it is lent and nobody is inside; the caller then owns it.
bool TakeLent(ClientEntry& entry) {
  return (LentStates().fetch_and(~BitOf(entry), std::memory_order_seq_cst) & BitOf(entry)) != 0;
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

// Lends `states` again. An event may have been queued for one of them while it was held (its notifier
// found the bit clear): whoever can take it back then delivers that; and a script waiting for its
// state is woken.
void GiveBack(uint32_t states) {
  if (states == 0) return;
  LentStates().fetch_or(states, std::memory_order_seq_cst);
  ClientRegistry& registry = ClientRegistry::Instance();
  for (uint32_t rest = states; rest != 0; rest &= rest - 1) {
    ClientEntry& entry = registry.entry(__builtin_ctz(rest));
    while (entry.pending.load(std::memory_order_seq_cst) != 0 && TakeLent(entry)) {
      DrainQueue(entry, entry.state.load(std::memory_order_acquire));
      LentStates().fetch_or(BitOf(entry), std::memory_order_seq_cst);
    }
    if (entry.waiters.load(std::memory_order_seq_cst) > 0) {
      { std::lock_guard<std::mutex> gate(entry.gate); }  // a waiter that saw the bit clear is now waiting
      entry.notifier_left.notify_all();
    }
  }
}

// Takes the entry's lent state back, waiting while a notifier is inside it. The caller holds the gate.
void TakeBackWaiting(ClientEntry& entry, std::unique_lock<std::mutex>& gate) {
  entry.waiters.fetch_add(1, std::memory_order_seq_cst);
  while (!TakeLent(entry)) entry.notifier_left.wait(gate);  // given back with a notify under this lock
  entry.waiters.fetch_sub(1, std::memory_order_seq_cst);
}

}  // namespace

namespace {

// Whether the client holds a callback that `event` would call; read without owning the state, and read
// again when the event is delivered.
bool Wants(const ClientEntry& entry, const ClientEvent& event) {
  switch (event.kind) {
    case ClientEvent::Kind::kDeviceChange:
      return entry.device_change_reference.load(std::memory_order_acquire) != kNoReference;
    case ClientEvent::Kind::kPage:
      return entry.SlotReference(event.slot, kPageCallback) != kNoReference;
    case ClientEvent::Kind::kSoftButton:
      return entry.SlotReference(event.slot, kSoftButtonCallback) != kNoReference ||
             (event.down != 0 && entry.SlotReference(event.slot, kSoftButtonDownCallback) != kNoReference) ||
             (event.up != 0 && entry.SlotReference(event.slot, kSoftButtonUpCallback) != kNoReference);
  }
  return false;
}

}  // namespace

void DeliverToClients(const ClientEvent& event) {
  ClientRegistry& registry = ClientRegistry::Instance();
  // Every state whose script waits in Listen, at once: one exchange, not one per client.
  const uint32_t taken = LentStates().exchange(0, std::memory_order_seq_cst);
  for (int i = 0; i < kMaxClients; ++i) {
    ClientEntry& entry = registry.entry(i);
    lua_State* state = entry.state.load(std::memory_order_acquire);
    if (state == nullptr || !Wants(entry, event)) continue;
    if (taken & BitOf(entry)) {
      DrainQueue(entry, state);  // anything older first
      Deliver(state, entry, event);
      continue;
    }
    {
      std::lock_guard<std::mutex> gate(entry.gate);
      if (entry.owner.load(std::memory_order_seq_cst) == kClosed) continue;
      Push(entry, event);
    }
    // Lent since the exchange: deliver what waits now rather than at the script's next Listen.
    if (TakeLent(entry)) {
      DrainQueue(entry, entry.state.load(std::memory_order_acquire));
      GiveBack(BitOf(entry));
    }
  }
  GiveBack(taken);
}

bool ParkForListen(ClientEntry& entry, lua_State* state) {
  // Owned by anybody but the script (a callback calling Listen on a notifier's thread, or a closing
  // state): there is nothing to lend.
  if (entry.owner.load(std::memory_order_seq_cst) != kOwnedByScript) return false;
  DrainQueue(entry, state);
  entry.owner.store(kLent, std::memory_order_seq_cst);
  GiveBack(BitOf(entry));
  return true;
}

void ReturnFromListen(ClientEntry& entry) {
  if (!TakeLent(entry)) {
    std::unique_lock<std::mutex> gate(entry.gate);
    TakeBackWaiting(entry, gate);
  }
  entry.owner.store(kOwnedByScript, std::memory_order_seq_cst);
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
  std::unique_lock<std::mutex> gate(entry.gate);
  // Closed while lent (from another thread than the one waiting in Listen): take it back first.
  if (entry.owner.load(std::memory_order_seq_cst) == kLent) TakeBackWaiting(entry, gate);
  entry.owner.store(kClosed, std::memory_order_seq_cst);
  entry.queue_size = 0;
  entry.pending.store(0);
}

bool IsParked(ClientEntry& entry) { return (LentStates().load(std::memory_order_seq_cst) & BitOf(entry)) != 0; }

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

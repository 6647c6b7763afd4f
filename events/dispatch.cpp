#include "events/dispatch.h"

#include "module/lua_api.h"

namespace vexlan {
namespace {

thread_local int t_delivering = 0;

void PushTagAndOrdinal(lua_State* state, const ClientEvent& event) {
  lua_pushstring(state, event.tag);
  lua_pushnumber(state, event.ordinal);
}

// One protected call; the error value of a failed call is popped so the stack stays balanced.
void ProtectedCall(lua_State* state, int arguments) {
  if (lua_pcall(state, arguments, 0, 0) != 0) lua_pop(state, 1);
}

void CallWithMask(lua_State* state, int32_t reference, const ClientEvent& event, uint32_t mask) {
  lua_rawgeti(state, LUA_REGISTRYINDEX, reference);
  PushTagAndOrdinal(state, event);
  lua_pushnumber(state, mask);
  ProtectedCall(state, 3);
}

// Runs the client's callbacks for one event. The caller owns the state; the references are read now,
// so a callback registered or cleared while the event waited is honoured.
void Deliver(lua_State* state, ClientEntry& entry, const ClientEvent& event) {
  if (!lua_checkstack(state, 5)) return;  // the function and up to four arguments
  ++t_delivering;
  switch (event.kind) {
    case ClientEvent::Kind::kDeviceChange: {
      const int32_t reference = entry.device_change_reference.load(std::memory_order_acquire);
      if (reference == kNoReference) break;
      lua_rawgeti(state, LUA_REGISTRYINDEX, reference);
      PushTagAndOrdinal(state, event);
      lua_pushboolean(state, event.flag);
      ProtectedCall(state, 3);
      break;
    }
    case ClientEvent::Kind::kPage: {
      const int32_t reference = entry.SlotReference(event.slot, kPageCallback);
      if (reference == kNoReference) break;
      lua_rawgeti(state, LUA_REGISTRYINDEX, reference);
      PushTagAndOrdinal(state, event);
      lua_pushnumber(state, event.value);
      lua_pushboolean(state, event.flag);
      ProtectedCall(state, 4);
      break;
    }
    case ClientEvent::Kind::kSoftButton: {
      int32_t reference = entry.SlotReference(event.slot, kSoftButtonCallback);
      if (reference != kNoReference) CallWithMask(state, reference, event, event.value);
      reference = entry.SlotReference(event.slot, kSoftButtonDownCallback);
      if (reference != kNoReference && event.down != 0) CallWithMask(state, reference, event, event.down);
      reference = entry.SlotReference(event.slot, kSoftButtonUpCallback);
      if (reference != kNoReference && event.up != 0) CallWithMask(state, reference, event, event.up);
      break;
    }
  }
  --t_delivering;
}

void Push(ClientEntry& entry, const ClientEvent& event) {
  if (entry.queue_size == kEventQueueCapacity) {  // full: the oldest goes
    entry.queue_head = (entry.queue_head + 1) % kEventQueueCapacity;
    --entry.queue_size;
    ++entry.dropped_events;
  }
  entry.queue[(entry.queue_head + entry.queue_size) % kEventQueueCapacity] = event;
  ++entry.queue_size;
}

bool Pop(ClientEntry& entry, ClientEvent* event) {
  if (entry.queue_size == 0) return false;
  *event = entry.queue[entry.queue_head];
  entry.queue_head = (entry.queue_head + 1) % kEventQueueCapacity;
  --entry.queue_size;
  return true;
}

// Delivers every queued event, in order, releasing the gate around each delivery.
void DrainQueue(ClientEntry& entry, lua_State* state, std::unique_lock<std::mutex>& gate) {
  ClientEvent event;
  while (Pop(entry, &event)) {
    gate.unlock();
    Deliver(state, entry, event);
    gate.lock();
  }
}

}  // namespace

void Dispatch(ClientEntry& entry, const ClientEvent& event) {
  std::unique_lock<std::mutex> gate(entry.gate);
  if (entry.closed) return;
  if (entry.owner != StateOwner::kParked) {
    Push(entry, event);
    return;
  }
  entry.owner = StateOwner::kNotifier;
  lua_State* state = entry.state.load(std::memory_order_acquire);
  gate.unlock();
  Deliver(state, entry, event);
  gate.lock();
  DrainQueue(entry, state, gate);  // what other notifiers queued meanwhile
  entry.owner = StateOwner::kParked;
  gate.unlock();
  entry.notifier_left.notify_all();
}

void ParkForListen(ClientEntry& entry, lua_State* state) {
  std::unique_lock<std::mutex> gate(entry.gate);
  if (entry.closed || entry.owner != StateOwner::kScript) return;
  DrainQueue(entry, state, gate);
  // The queue is empty and stays so while parked: notifiers enter instead of queueing.
  entry.owner = StateOwner::kParked;
}

void ReturnFromListen(ClientEntry& entry) {
  std::unique_lock<std::mutex> gate(entry.gate);
  entry.notifier_left.wait(gate, [&] { return entry.owner != StateOwner::kNotifier; });
  entry.owner = StateOwner::kScript;
}

bool DeliveringOnThisThread() { return t_delivering > 0; }

void OpenGate(ClientEntry& entry) {
  std::lock_guard<std::mutex> gate(entry.gate);
  entry.owner = StateOwner::kScript;
  entry.closed = false;
  entry.queue_head = 0;
  entry.queue_size = 0;
  entry.dropped_events = 0;
}

void CloseGate(ClientEntry& entry) {
  std::unique_lock<std::mutex> gate(entry.gate);
  entry.notifier_left.wait(gate, [&] { return entry.owner != StateOwner::kNotifier; });
  entry.closed = true;
  entry.owner = StateOwner::kScript;
  entry.queue_size = 0;
}

bool IsParked(ClientEntry& entry) {
  std::lock_guard<std::mutex> gate(entry.gate);
  return entry.owner == StateOwner::kParked;
}

uint64_t DroppedEvents(ClientEntry& entry) {
  std::lock_guard<std::mutex> gate(entry.gate);
  return entry.dropped_events;
}

}  // namespace vexlan

#include "events/dispatch.h"
#include "events/dispatch_testing.h"

#include <thread>

#include "platform/lua_api.h"

namespace vexlan {
namespace {

// ---- Which callbacks an event calls -----------------------------------------------------------------

struct CallbackCall {
  int32_t reference;
  uint32_t number;  // the page, or the mask this callback is given
};

// The callbacks one event calls in one client, read from its references when the plan is made.
struct CallPlan {
  int count = 0;
  CallbackCall calls[3];
};

inline void Add(CallPlan* plan, int32_t reference, uint32_t number) {
  if (reference != kNoReference) plan->calls[plan->count++] = CallbackCall{reference, number};
}

inline void PlanCallbacks(const ClientEntry& entry, const ClientEvent& event, CallPlan* plan) {
  plan->count = 0;
  switch (event.kind) {
    case ClientEvent::Kind::kDeviceChange:
      Add(plan, entry.device_change_reference.load(std::memory_order_acquire), 0);
      break;
    case ClientEvent::Kind::kPage:
      Add(plan, entry.SlotReference(event.slot, kPageCallback), event.value);
      break;
    case ClientEvent::Kind::kSoftButton:
      Add(plan, entry.SlotReference(event.slot, kSoftButtonCallback), event.value);
      if (event.down != 0) Add(plan, entry.SlotReference(event.slot, kSoftButtonDownCallback), event.down);
      if (event.up != 0) Add(plan, entry.SlotReference(event.slot, kSoftButtonUpCallback), event.up);
      break;
  }
}

// ---- Running callbacks --------------------------------------------------------------------------------

// Marks the calling thread as the one running the client's callbacks for as long as it lives, and gives
// the mark back to the thread that ran them before (a Listen nested in a callback lends the state to a
// notifier), so that a Listen or a finaliser called from a callback knows it runs inside a delivery.
class InCallback {
 public:
  // Only whoever is inside the state writes the mark: a load and a store, no read-modify-write.
  // `self`: the calling thread's id, read once by the caller for all the clients it serves.
  InCallback(ClientEntry& entry, std::thread::id self)
      : entry_(entry), before_(entry.callback_thread.load(std::memory_order_relaxed)) {
    entry.callback_thread.store(self, std::memory_order_relaxed);
  }
  ~InCallback() { entry_.callback_thread.store(before_, std::memory_order_relaxed); }
  InCallback(const InCallback&) = delete;
  InCallback& operator=(const InCallback&) = delete;

 private:
  ClientEntry& entry_;
  const std::thread::id before_;
};

// Makes the plan's calls, each in its own protected call, so that an error in one does not stop the next.
// Only the calls allocate, and they are protected; the pushes before them allocate nothing and raise
// nothing (registry reads, numbers, booleans). They go into room that Lua keeps for every C function
// (LUA_MINSTACK slots): the client's thread is entered only while it is idle or parked in one, Listen
// or the resume of the coroutine that called it, which have pushed nothing of their own there. What the
// event's kind decides (which arguments follow the ordinal) is worked out once, outside the calls.
void RunPlan(ClientEntry& entry, const ClientEvent& event, const CallPlan& plan, std::thread::id self) {
  static_assert(2 + 4 <= LUA_MINSTACK, "the tag, the function and up to four arguments fit a C function's room");
  lua_State* state = entry.state.load(std::memory_order_acquire);  // fixed while the state is held
  const InCallback counted(entry, self);
  const lua_Number ordinal = event.ordinal;
  const bool numbered = event.kind != ClientEvent::Kind::kDeviceChange;  // a page number or a mask
  const bool flagged = event.kind != ClientEvent::Kind::kSoftButton;     // added, or page active
  const int arguments = 2 + numbered + flagged;
  lua_rawgeti(state, LUA_REGISTRYINDEX, entry.tags.of[TagIndex(event.tag)]);  // read once, copied to each call
  for (int k = 0; k < plan.count; ++k) {
    lua_rawgeti(state, LUA_REGISTRYINDEX, plan.calls[k].reference);
    lua_pushvalue(state, -2);  // the tag, under the function
    lua_pushnumber(state, ordinal);
    if (numbered) lua_pushnumber(state, plan.calls[k].number);
    if (flagged) lua_pushboolean(state, event.flag);
    if (lua_pcall(state, arguments, 0, 0) != 0) lua_pop(state, 1);  // the error value: the stack stays balanced
  }
  lua_pop(state, 1);
}

// ---- The lent bits and the queue ------------------------------------------------------------------------

// Bit i set: client i's script waits in Listen and no notifier is inside its state. Whoever clears a
// bit owns that state until it sets the bit again.
std::atomic<uint32_t> g_lent_states{0};

uint32_t BitOf(const ClientEntry& entry) { return 1u << entry.index; }

// Takes `entry`'s state if it is lent and nobody is inside; the caller then owns it.
bool TakeLent(ClientEntry& entry) {
  return (g_lent_states.fetch_and(~BitOf(entry), std::memory_order_seq_cst) & BitOf(entry)) != 0;
}

// After a state is lent again: a script waiting to take it back gets it. The waiter looked at the bit
// under the gate before it waited, so passing through the gate here orders the notify after its wait.
void WakeWaiter(ClientEntry& entry) {
  if (entry.waiters.load(std::memory_order_seq_cst) == 0) return;
  { platform::FastMutexLock gate(entry.gate); }
  entry.state_given_back.NotifyAll();
}

void Push(ClientEntry& entry, const ClientEvent& event) REQUIRES(entry.gate) {
  if (entry.queue_size == kEventQueueCapacity) {  // full: the oldest goes
    entry.queue_head = (entry.queue_head + 1) % kEventQueueCapacity;
    --entry.queue_size;
    ++entry.dropped_events;
  }
  entry.queue[(entry.queue_head + entry.queue_size) % kEventQueueCapacity] = event;
  ++entry.queue_size;
  entry.pending.store(entry.queue_size, std::memory_order_seq_cst);
}

bool Pop(ClientEntry& entry, ClientEvent* event) REQUIRES(entry.gate) {
  if (entry.queue_size == 0) return false;
  *event = entry.queue[entry.queue_head];
  entry.queue_head = (entry.queue_head + 1) % kEventQueueCapacity;
  --entry.queue_size;
  entry.pending.store(entry.queue_size, std::memory_order_seq_cst);
  return true;
}

int Pending(const ClientEntry& entry) { return entry.pending.load(std::memory_order_seq_cst); }

// Delivers, in order, at most `limit` queued events: those that waited when the caller looked. Events
// queued meanwhile (a callback may cause them) are left for later, so that a drain always ends.
int DrainQueue(ClientEntry& entry, int limit) {
  const std::thread::id self = std::this_thread::get_id();
  int delivered = 0;
  for (; delivered < limit; ++delivered) {
    ClientEvent event;
    {
      platform::FastMutexLock gate(entry.gate);
      if (!Pop(entry, &event)) break;
    }
    CallPlan plan;
    PlanCallbacks(entry, event, &plan);  // the references as they are now
    RunPlan(entry, event, plan, self);
  }
  return delivered;
}

// The one lent state a notifier holds while it runs that client's callbacks: moving on to the next
// client gives the previous state back and takes the next in a single exchange of the lent bits, so a
// script never waits on another client's callbacks.
class NotifierHold {
 public:
  NotifierHold() = default;
  NotifierHold(const NotifierHold&) = delete;
  NotifierHold& operator=(const NotifierHold&) = delete;
  ~NotifierHold() { GiveBack(); }

  // Gives back what is held and takes `entry`'s state if it is lent; true when it was taken.
  bool MoveTo(ClientEntry& entry) {
    const uint32_t give = held_ != nullptr ? BitOf(*held_) : 0;
    const uint32_t take = BitOf(entry);
    uint32_t old = g_lent_states.load(std::memory_order_relaxed);
    while (!g_lent_states.compare_exchange_weak(old, (old | give) & ~take, std::memory_order_seq_cst,
                                                std::memory_order_relaxed)) {
    }
    Given();
    if ((old & take) == 0) return false;
    held_ = &entry;
    return true;
  }

  void GiveBack() {
    if (held_ == nullptr) return;
    g_lent_states.fetch_or(BitOf(*held_), std::memory_order_seq_cst);
    Given();
  }

 private:
  void Given() {
    if (held_ != nullptr) WakeWaiter(*held_);
    held_ = nullptr;
  }

  ClientEntry* held_ = nullptr;
};

// Events that a notifier queued while the state was held by another thread wait for the next event,
// unless whoever gives the state back delivers them: done here, in rounds of what waits, with nothing else
// held, unless the script wants its state back or `go_on` says to stop. The script's own thread marks
// itself inside, so that a Listen nested in these callbacks can lend the state again.
template <typename GoOn>
void DeliverLeftovers(ClientEntry& entry, bool by_script, GoOn go_on) {
  while (Pending(entry) != 0 && entry.waiters.load(std::memory_order_seq_cst) == 0 && go_on() && TakeLent(entry)) {
    entry.held_by_script = by_script;
    DrainQueue(entry, Pending(entry));
    entry.held_by_script = false;
    g_lent_states.fetch_or(BitOf(entry), std::memory_order_seq_cst);
    WakeWaiter(entry);  // a close on another thread may be waiting for the state
  }
}

void DeliverLeftovers(ClientEntry& entry) {
  DeliverLeftovers(entry, false, [] { return true; });
}

// Takes the entry's lent state back, waiting while a notifier is inside it.
void TakeBackWaiting(ClientEntry& entry) REQUIRES(entry.gate) {
  entry.waiters.fetch_add(1, std::memory_order_seq_cst);
  while (!TakeLent(entry)) entry.state_given_back.Wait(entry.gate);  // given back with a notify under the gate
  entry.waiters.fetch_sub(1, std::memory_order_seq_cst);
}

}  // namespace

TagReferences MakeTagReferences(lua_State* state) {
  TagReferences tags;
  for (const DeviceKind& kind : kDeviceKinds) {
    lua_pushstring(state, kind.name);
    tags.of[TagIndex(kind.tag)] = luaL_ref(state, LUA_REGISTRYINDEX);
  }
  return tags;
}

void DeliverToClients(const ClientEvent& event) {
  ClientTable& table = ClientTable::Instance();
  NotifierHold hold;
  const std::thread::id self = std::this_thread::get_id();
  uint32_t visited = 0;
  for (int i = 0; i < kMaxClients; ++i) {
    ClientEntry& entry = table.entry(i);
    if (entry.state.load(std::memory_order_acquire) == nullptr) continue;
    CallPlan plan;
    PlanCallbacks(entry, event, &plan);
    if (plan.count == 0) continue;
    // Lent: the script waits in Listen, and its state is ours for this client's calls alone.
    if (hold.MoveTo(entry)) {
      if (Pending(entry) != 0) {
        DrainQueue(entry, Pending(entry));  // anything older first
        PlanCallbacks(entry, event, &plan);
      }
      RunPlan(entry, event, plan, self);
      visited |= BitOf(entry);
      continue;
    }
    {
      platform::FastMutexLock gate(entry.gate);
      if (entry.owner.load(std::memory_order_seq_cst) == kClosed) continue;
      Push(entry, event);
    }
    visited |= BitOf(entry);  // lent since the look above: what waits is delivered below
  }
  hold.GiveBack();
  for (uint32_t rest = visited; rest != 0; rest &= rest - 1) DeliverLeftovers(table.entry(__builtin_ctz(rest)));
}

bool ParkForListen(ClientEntry& entry, const StillWaiting& still_waiting) {
  // Called from a callback that Listen delivers on the script's thread: lend the state again, at once.
  if (entry.owner.load(std::memory_order_seq_cst) == kLent && entry.held_by_script) {
    entry.held_by_script = false;
    entry.parked_in_delivery = true;
    g_lent_states.fetch_or(BitOf(entry), std::memory_order_seq_cst);
    return true;
  }
  // Owned by anybody but the script (a callback calling Listen on a notifier's thread, or a closing
  // state): there is nothing to lend.
  if (entry.owner.load(std::memory_order_seq_cst) != kOwnedByScript) return false;
  // A Listen inside a callback of a drain leaves the rest of the queue to that drain (or to a notifier,
  // which delivers the queue first), so that nesting never deepens per event.
  const bool nested = InCallbackOf(entry);
  if (!nested) DrainQueue(entry, Pending(entry));
  entry.owner.store(kLent, std::memory_order_seq_cst);
  g_lent_states.fetch_or(BitOf(entry), std::memory_order_seq_cst);
  // A notifier that found the state held meanwhile has left its event queued, and so may one that finds
  // it held by the rounds below: while the script waits, they are delivered here.
  if (!nested && still_waiting) DeliverLeftovers(entry, true, [&] { return still_waiting(); });
  return true;
}

int DeliverWaiting(ClientEntry& entry) {
  if (entry.owner.load(std::memory_order_seq_cst) != kOwnedByScript || InCallbackOf(entry)) return 0;
  return DrainQueue(entry, Pending(entry));
}

bool InCallbackOf(const ClientEntry& entry) {
  return entry.callback_thread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

void ReturnFromListen(ClientEntry& entry) {
  if (!TakeLent(entry)) {
    platform::FastMutexLock gate(entry.gate);
    TakeBackWaiting(entry);
  }
  if (entry.parked_in_delivery) {  // back inside the delivery that called this Listen: still lent
    entry.parked_in_delivery = false;
    entry.held_by_script = true;
    return;
  }
  entry.owner.store(kOwnedByScript, std::memory_order_seq_cst);
}

void OpenEntry(ClientEntry& entry, lua_State* state, const TagReferences& tags) {
  entry.device_change_reference.store(kNoReference, std::memory_order_relaxed);
  for (auto& slot : entry.slot_references)
    for (auto& reference : slot) reference.store(kNoReference, std::memory_order_relaxed);
  entry.tags = tags;
  {
    platform::FastMutexLock gate(entry.gate);
    entry.queue_head = 0;
    entry.queue_size = 0;
    entry.pending.store(0);
    entry.dropped_events = 0;
    entry.held_by_script = false;
    entry.parked_in_delivery = false;
    entry.callback_thread.store(std::thread::id(), std::memory_order_relaxed);
    entry.owner.store(kOwnedByScript, std::memory_order_seq_cst);
  }
  entry.state.store(state, std::memory_order_release);  // publishes all of the above
}

void CloseGate(ClientEntry& entry) {
  platform::FastMutexLock gate(entry.gate);
  // Closed while lent (from another thread than the one waiting in Listen): take it back first.
  if (entry.owner.load(std::memory_order_seq_cst) == kLent) TakeBackWaiting(entry);
  entry.owner.store(kClosed, std::memory_order_seq_cst);
  entry.queue_size = 0;
  entry.pending.store(0);
}

bool IsParked(ClientEntry& entry) { return (g_lent_states.load(std::memory_order_seq_cst) & BitOf(entry)) != 0; }

uint64_t DroppedEvents(ClientEntry& entry) {
  platform::FastMutexLock gate(entry.gate);
  return entry.dropped_events;
}

}  // namespace vexlan

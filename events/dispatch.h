// Delivering events into client states without ever running one state on two threads.
//
// Callbacks run on a Lua thread of the client's own (ClientEntry::state), never on a script's coroutine.
// The state belongs to its script's thread except while the script waits in Listen: then it is lent,
// and a notifying thread may enter it. A notifier takes only the states that want the event, one at a
// time, and gives each back as soon as its callbacks have run, so that no script waits on another
// script's callback. An event for a state that is not lent waits, in order, in the client's bounded
// queue (the oldest dropped on overflow) until the state is next entered. No lock is held while Lua
// code runs, and nothing that can raise a Lua error runs on a notifying thread outside a protected call.
#pragma once

#include <cstdint>
#include <functional>

#include "events/client_table.h"

namespace vexlan {

// Makes, in `state`, the references of the tag strings. Runs on the script's thread with no lock held;
// raises a Lua error when memory runs out.
TagReferences MakeTagReferences(lua_State* state);

// Hands `event` to every client, in entry order, that holds a callback it would call: run at once in a
// lent state, queued for any other.
void DeliverToClients(const ClientEvent& event);

// Whether the script still waits in Listen (its character has not arrived, its time is not up): asked
// before each round of deliveries Listen makes itself.
using StillWaiting = std::function<bool()>;

// Listen's two halves, on the script's thread. First: deliver the events that waited when Listen was
// entered, lend the state, and then, for as long as `still_waiting` says so, deliver in rounds what
// notifiers queued while this thread held the state (an empty `still_waiting` makes no rounds); false,
// doing nothing, when the state is not the script's to lend. A Listen called from a callback that this
// thread delivers lends at once and delivers nothing itself, so nesting never deepens per event. Second,
// after the wait: wait while a notifier is inside the state, and take it back.
bool ParkForListen(ClientEntry& entry, const StillWaiting& still_waiting = {});
void ReturnFromListen(ClientEntry& entry);

// Delivering without waiting, on the script's thread: the events that waited when called, in order;
// gives how many. Gives 0, delivering nothing, when the state is not the script's to enter (a callback
// on a notifier's thread) or when a callback of this state runs on this thread (a callback of a
// delivery), so that nesting never deepens per event.
int DeliverWaiting(ClientEntry& entry);

// True while one of the client's callbacks runs on the calling thread.
bool InCallbackOf(const ClientEntry& entry);

// Entry lifecycle. OpenEntry hands a free entry to `state` with every callback reference reset, its gate
// open, and the state published last. CloseGate shuts the gate, after any callback running in the state,
// before the entry is freed.
void OpenEntry(ClientEntry& entry, lua_State* state, const TagReferences& tags);
void CloseGate(ClientEntry& entry);

}  // namespace vexlan

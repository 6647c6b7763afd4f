// Delivering events into client states without ever running one state on two threads.
//
// A state belongs to its script's thread except while the script waits in Listen: then it is lent,
// and a notifying thread may enter it at once. Otherwise the event waits, in order, in the client's
// bounded queue (the oldest dropped on overflow) until the script's next Listen delivers it on the
// script's own thread. The notifying thread never waits for a script, and no lock is held while Lua
// code runs.
#pragma once

#include <cstdint>

#include "module/client_registry.h"

namespace vexlan {

// Hands `event` to every client, in entry order, that holds a callback it would call: run at once in a
// lent state, queued for any other.
void DeliverToClients(const ClientEvent& event);

// Listen's two halves, on the script's thread: deliver what waited and lend the state (false, doing
// nothing, when the state is not the script's to lend); then, after the read, wait for any callback
// still running in the state and take it back. A Listen called from a callback nests: on the script's
// own thread it lends again; on a notifier's thread it only reads.
bool ParkForListen(ClientEntry& entry, lua_State* state);
void ReturnFromListen(ClientEntry& entry);

// Entry lifecycle: open when handed out; closed before its references go, after any running callback.
void OpenGate(ClientEntry& entry, lua_State* state);
void CloseGate(ClientEntry& entry);

uint64_t DroppedEvents(ClientEntry& entry);
// True while the client's script waits in Listen and no notifier is inside its state.
bool IsParked(ClientEntry& entry);
// The index of a tag string in a ClientEvent.
uint8_t TagIndex(const char* tag);

}  // namespace vexlan

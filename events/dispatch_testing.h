// What tests read of the delivery of events beside its production interface.
#pragma once

#include <cstdint>

#include "events/client_table.h"

namespace vexlan {

// Events the client's full queue dropped since its entry was opened.
uint64_t DroppedEvents(ClientEntry& entry);
// True while the client's script waits in Listen and no notifier is inside its state.
bool IsParked(ClientEntry& entry);

}  // namespace vexlan

// Shared pieces of the benchmarks: allocation counting and Lua states that open the module.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/lua_api.h"

namespace vexlan::bench {

// Every malloc, calloc and realloc in the process (operator new included) since start.
long ProcessAllocations();
// Allocations made through the counting allocator of states from NewCountingState.
long LuaAllocations();

// A state with the standard libraries and the module, allocating through a counting allocator.
lua_State* NewCountingState();
// Points the module at the simulated library, with fresh devices and call recording off.
void UseQuietSimulator();

}  // namespace vexlan::bench

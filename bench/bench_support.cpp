#include "bench/bench_support.h"

#include <cstdlib>

#include "events/dispatch.h"
#include "module/lua_functions.h"
#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"
#include "tests/support/lua_state.h"

namespace {
std::atomic<long> lua_allocations{0};
}  // namespace

namespace vexlan::bench {

long LuaAllocations() { return lua_allocations.load(); }

namespace {
void* CountingAlloc(void*, void* block, size_t, size_t size) {
  if (size == 0) {
    std::free(block);
    return nullptr;
  }
  lua_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::realloc(block, size);
}
}  // namespace

lua_State* NewCountingState() {
  lua_State* state = lua_newstate(CountingAlloc, nullptr);
  test::OpenModule(state);
  return state;
}

void UseQuietSimulator() {
  test::ConfigureDirectOutput(test::SimulatorPath());
  sim::Reset("X52P,SFIP");
  sim::SetRecording(false);
}

TenListeningStates::TenListeningStates(const char* script) {
  UseQuietSimulator();
  for (int i = 0; i < kListeningStates; ++i) {
    lua_State* state = NewCountingState();
    luaL_dostring(state, script);
    luaL_dostring(state,
                  "vexlan.RegisterSoftButtonCallback('SFIP', 1, callback)\n"
                  "vexlan.RegisterSoftButtonDownCallback('SFIP', 1, callback)\n"
                  "vexlan.RegisterSoftButtonUpCallback('SFIP', 1, callback)");
    lua_getglobal(state, "callback");
    callbacks_.push_back(luaL_ref(state, LUA_REGISTRYINDEX));
    ParkForListen(*FindCallingClient(state));
    states_.push_back(state);
  }
}

TenListeningStates::~TenListeningStates() {
  for (lua_State* state : states_) {
    ReturnFromListen(*FindCallingClient(state));
    lua_close(state);
  }
}

double TenListeningStates::Sum(const char* name) const {
  double sum = 0;
  for (lua_State* state : states_) {
    lua_getglobal(state, name);
    sum += lua_tonumber(state, -1);
    lua_pop(state, 1);
  }
  return sum;
}

}  // namespace vexlan::bench

// One soft-button event, given to the module's handler as DirectOutput gives it, fanned out to 10 clients
// that each hold the trio; against the same 30 protected calls made directly in the same states, with the
// same three arguments (the true limit), and against 30 bare protected calls without arguments.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_support.h"
#include "events/event_handlers.h"
#include "simulator/sim_control.h"

namespace vexlan::bench {
namespace {

constexpr const char* kEmptyCallback = "function callback() end";

void BM_FanOutSoftButtonToTenTrios(benchmark::State& bench) {
  TenListeningStates clients(kEmptyCallback);
  void* const device = sim::HandleOf(2);
  uint32_t mask = 1;
  SoftButtonHandler(device, 2, nullptr);  // warm up: first use of every path
  SoftButtonHandler(device, 1, nullptr);
  const long lua_before = LuaAllocations();
  const long process_before = ProcessAllocations();
  for (auto _ : bench) {
    mask ^= 3;  // 1 <-> 2: every event has a new mask, buttons down and buttons up: 3 callbacks each
    SoftButtonHandler(device, mask, nullptr);
  }
  bench.counters["lua_allocs_per_event"] =
      benchmark::Counter(static_cast<double>(LuaAllocations() - lua_before) / bench.iterations());
  bench.counters["process_allocs_per_event"] =
      benchmark::Counter(static_cast<double>(ProcessAllocations() - process_before) / bench.iterations());
}
BENCHMARK(BM_FanOutSoftButtonToTenTrios);

// The calls the fan-out makes and nothing else: the bare calls below, each given the tag string, the
// ordinal and a mask, pushed the cheapest way (the tag waits on the stack and is copied from there).
void BM_Baseline_ThirtyPcallsWithThreeArguments(benchmark::State& bench) {
  TenListeningStates clients(kEmptyCallback);
  for (lua_State* state : clients.states()) lua_pushliteral(state, "SFIP");
  uint32_t mask = 1;
  for (auto _ : bench) {
    mask ^= 3;
    for (size_t i = 0; i < clients.states().size(); ++i) {
      lua_State* state = clients.states()[i];
      const int tag = lua_gettop(state);
      for (int k = 0; k < 3; ++k) {
        lua_rawgeti(state, LUA_REGISTRYINDEX, clients.callback(i));
        lua_pushvalue(state, tag);
        lua_pushnumber(state, 1);
        lua_pushnumber(state, mask);
        lua_pcall(state, 3, 0, 0);
      }
    }
  }
  for (lua_State* state : clients.states()) lua_pop(state, 1);
}
BENCHMARK(BM_Baseline_ThirtyPcallsWithThreeArguments);

void BM_Baseline_ThirtyBarePcalls(benchmark::State& bench) {
  TenListeningStates clients(kEmptyCallback);
  for (auto _ : bench) {
    for (size_t i = 0; i < clients.states().size(); ++i) {
      lua_State* state = clients.states()[i];
      for (int k = 0; k < 3; ++k) {
        lua_rawgeti(state, LUA_REGISTRYINDEX, clients.callback(i));
        lua_pcall(state, 0, 0, 0);
      }
    }
  }
}
BENCHMARK(BM_Baseline_ThirtyBarePcalls);

}  // namespace
}  // namespace vexlan::bench

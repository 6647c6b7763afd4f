// One soft-button event, given to the module's handler as DirectOutput gives it, fanned out to 10 clients
// that each hold the trio; against the same 30 protected calls made directly in the same states, with the
// same three arguments (the true limit), and against 30 bare protected calls without arguments.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_support.h"
#include "events/dispatch.h"
#include "module/lua_functions.h"
#include "events/event_handlers.h"
#include "module/client_registry.h"
#include "simulator/sim_control.h"

namespace vexlan::bench {
namespace {

constexpr int kClients = 10;

class TenListeningClients {
 public:
  TenListeningClients() {
    UseQuietSimulator();
    for (int i = 0; i < kClients; ++i) {
      lua_State* state = NewCountingState();
      luaL_dostring(state,
                    "local f = function() end\n"
                    "vexlan.RegisterSoftButtonCallback('SFIP', 1, f)\n"
                    "vexlan.RegisterSoftButtonDownCallback('SFIP', 1, f)\n"
                    "vexlan.RegisterSoftButtonUpCallback('SFIP', 1, f)\n"
                    "empty = f");
      lua_getglobal(state, "empty");
      empty_.push_back(luaL_ref(state, LUA_REGISTRYINDEX));
      states_.push_back(state);
      // As while each script waits in Listen: the notifying thread may enter at once.
      ParkForListen(*FindCallingClient(state));
    }
    device_ = sim::HandleOf(2);
  }
  ~TenListeningClients() {
    for (lua_State* state : states_) {
      ReturnFromListen(*FindCallingClient(state));
      lua_close(state);
    }
  }
  void* device() const { return device_; }
  const std::vector<lua_State*>& states() const { return states_; }
  int empty(size_t i) const { return empty_[i]; }

 private:
  std::vector<lua_State*> states_;
  std::vector<int> empty_;
  void* device_ = nullptr;
};

void BM_FanOutSoftButtonToTenTrios(benchmark::State& bench) {
  TenListeningClients clients;
  uint32_t mask = 1;
  SoftButtonHandler(clients.device(), 2, nullptr);  // warm up: first use of every path
  SoftButtonHandler(clients.device(), 1, nullptr);
  const long lua_before = LuaAllocations();
  const long process_before = ProcessAllocations();
  for (auto _ : bench) {
    mask ^= 3;  // 1 <-> 2: every event has a new mask, buttons down and buttons up: 3 callbacks each
    SoftButtonHandler(clients.device(), mask, nullptr);
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
  TenListeningClients clients;
  for (lua_State* state : clients.states()) lua_pushliteral(state, "SFIP");
  uint32_t mask = 1;
  for (auto _ : bench) {
    mask ^= 3;
    for (size_t i = 0; i < clients.states().size(); ++i) {
      lua_State* state = clients.states()[i];
      const int tag = lua_gettop(state);
      for (int k = 0; k < 3; ++k) {
        lua_rawgeti(state, LUA_REGISTRYINDEX, clients.empty(i));
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
  TenListeningClients clients;
  for (auto _ : bench) {
    for (size_t i = 0; i < clients.states().size(); ++i) {
      lua_State* state = clients.states()[i];
      for (int k = 0; k < 3; ++k) {
        lua_rawgeti(state, LUA_REGISTRYINDEX, clients.empty(i));
        lua_pcall(state, 0, 0, 0);
      }
    }
  }
}
BENCHMARK(BM_Baseline_ThirtyBarePcalls);

}  // namespace
}  // namespace vexlan::bench

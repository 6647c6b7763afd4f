// One soft-button event fanned out to 10 clients that each hold the trio, against 30 bare protected
// calls of empty Lua functions in the same states.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_support.h"
#include "devices/device_manager.h"
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
    slot_ = DeviceManager::Instance().table().PresentSlotOfHandle(sim::HandleOf(2)).slot;
  }
  ~TenListeningClients() {
    for (lua_State* state : states_) {
      ReturnFromListen(*FindCallingClient(state));
      lua_close(state);
    }
  }
  int32_t slot() const { return slot_; }
  const std::vector<lua_State*>& states() const { return states_; }
  int empty(size_t i) const { return empty_[i]; }

 private:
  std::vector<lua_State*> states_;
  std::vector<int> empty_;
  int32_t slot_ = -1;
};

void BM_FanOutSoftButtonToTenTrios(benchmark::State& bench) {
  TenListeningClients clients;
  uint32_t mask = 1;
  FanOutSoftButtonEvent(clients.slot(), 2);  // warm up: first use of every path
  FanOutSoftButtonEvent(clients.slot(), 1);
  const long lua_before = LuaAllocations();
  const long process_before = ProcessAllocations();
  for (auto _ : bench) {
    mask ^= 3;  // 1 <-> 2: every event has a new mask, buttons down and buttons up: 3 callbacks each
    FanOutSoftButtonEvent(clients.slot(), mask);
  }
  bench.counters["lua_allocs_per_event"] =
      benchmark::Counter(static_cast<double>(LuaAllocations() - lua_before) / bench.iterations());
  bench.counters["process_allocs_per_event"] =
      benchmark::Counter(static_cast<double>(ProcessAllocations() - process_before) / bench.iterations());
}
BENCHMARK(BM_FanOutSoftButtonToTenTrios);

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

// The recording library's cost: one soft-button event fanned out to ten clients, and a whole SetImage
// from Lua, each with the module loading the recorder (which forwards to the simulated library and writes
// its trace, pictures by hash) against the same with the module loading the simulated library itself.
// Events go through the simulated library's own thread in both, as they would come from the hardware.
// The trace goes to a file in the temporary folder.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "events/dispatch.h"
#include "module/client_registry.h"
#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"

namespace vexlan::bench {
namespace {

constexpr int kClients = 10;

std::string RecorderPath() {
  const std::string simulator = test::SimulatorPath();
  return simulator.substr(0, simulator.find_last_of("/\\") + 1) + "vexlan_recorder" + VEXLAN_LIBRARY_SUFFIX;
}

// Points the module at the recorder (or back at the simulated library) for the states opened next.
void UseRecorder(bool on) {
  UseQuietSimulator();
  if (!on) return;
  SetEnvironment("VEXLAN_RECORDER_LIBRARY", test::SimulatorPath());
  SetEnvironment("VEXLAN_RECORDER_TRACE", (std::filesystem::temp_directory_path() / "vexlan-bench.trace").string());
  test::ConfigureDirectOutput(RecorderPath());
}

class TenListeningStates {
 public:
  explicit TenListeningStates(bool recorded) {
    UseRecorder(recorded);
    for (int i = 0; i < kClients; ++i) {
      lua_State* state = NewCountingState();
      luaL_dostring(state,
                    "calls = 0\n"
                    "local f = function() calls = calls + 1 end\n"
                    "vexlan.RegisterSoftButtonCallback('SFIP', 1, f)\n"
                    "vexlan.RegisterSoftButtonDownCallback('SFIP', 1, f)\n"
                    "vexlan.RegisterSoftButtonUpCallback('SFIP', 1, f)\n");
      ParkForListen(*ClientTable::Instance().FindClient(state), state);  // callbacks run on the event thread
      states_.push_back(state);
    }
  }
  double Calls() const {
    double calls = 0;
    for (lua_State* state : states_) {
      lua_getglobal(state, "calls");
      calls += lua_tonumber(state, -1);
      lua_pop(state, 1);
    }
    return calls;
  }
  ~TenListeningStates() {
    for (lua_State* state : states_) {
      ReturnFromListen(*ClientTable::Instance().FindClient(state));
      lua_close(state);
    }
    UseRecorder(false);
  }

 private:
  std::vector<lua_State*> states_;
};

// Events in batches of 64, each batch waited for: the event thread runs the fan-outs back to back, so
// the time is theirs rather than the wake-ups' around a single event.
constexpr int kEventsPerBatch = 64;

void FanOut(benchmark::State& bench, bool recorded) {
  TenListeningStates states(recorded);
  uint32_t mask = 1;
  for (auto _ : bench) {
    for (int i = 0; i < kEventsPerBatch; ++i) {
      mask ^= 3;  // every event a new mask: buttons down and up, three callbacks in each client
      sim::Buttons(2, mask);
    }
    sim::Flush();
  }
  bench.SetItemsProcessed(bench.iterations() * kEventsPerBatch);
  bench.counters["callbacks_per_event"] = states.Calls() / (double(kEventsPerBatch) * bench.iterations());
}
void BM_FanOutThroughRecorder(benchmark::State& bench) { FanOut(bench, true); }
void BM_Baseline_FanOutWithoutRecorder(benchmark::State& bench) { FanOut(bench, false); }
BENCHMARK(BM_FanOutThroughRecorder);
BENCHMARK(BM_Baseline_FanOutWithoutRecorder);

void SetImage(benchmark::State& bench, bool recorded) {
  UseRecorder(recorded);
  lua_State* state = NewCountingState();
  std::string raw(24 + 320 * 240 * 4, '\0');
  for (size_t i = 24; i < raw.size(); ++i) raw[i] = static_cast<char>(i * 7 + i / 1280);
  lua_pushlstring(state, raw.data(), raw.size());
  lua_setglobal(state, "picture");
  luaL_dostring(state, "vexlan.AddPage('SFIP', 1, 1, true)\ncall = function() return vexlan.SetImage('SFIP', 1, 1, 1, picture) end");
  lua_getglobal(state, "call");
  const int call = luaL_ref(state, LUA_REGISTRYINDEX);
  for (auto _ : bench) {
    lua_rawgeti(state, LUA_REGISTRYINDEX, call);
    lua_pcall(state, 0, 1, 0);
    if (lua_tonumber(state, -1) != 0) bench.SkipWithError("SetImage did not answer 0");
    lua_pop(state, 1);
  }
  lua_close(state);
  UseRecorder(false);
}
void BM_SetImageThroughRecorder(benchmark::State& bench) { SetImage(bench, true); }
void BM_Baseline_SetImageWithoutRecorder(benchmark::State& bench) { SetImage(bench, false); }
BENCHMARK(BM_SetImageThroughRecorder);
BENCHMARK(BM_Baseline_SetImageWithoutRecorder);

}  // namespace
}  // namespace vexlan::bench

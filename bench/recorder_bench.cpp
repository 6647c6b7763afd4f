// The recording library's cost: one soft-button event fanned out to ten clients, and a whole SetImage
// from Lua through the module, each with the recorder in front (writing its trace, pictures by hash, to a
// file in the temporary folder) against the same without it.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "devices/device_manager.h"
#include "events/event_handlers.h"
#include "module/lua_functions.h"
#include "recorder/recorder.h"
#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"

namespace vexlan::bench {
namespace {

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

// The handler the library is given: the module's own, which fans the event out to the unit's clients.
void FanOutHandler(void* device, uint32_t buttons, void* context) { SoftButtonHandler(device, buttons, context); }

// The fan-out as the library's thread runs it, with the recorder's handler in front of it (a copy of the
// recorder linked into this program, writing its trace to the temporary folder, with no library behind it),
// against the handler called as the library calls it without the recorder.
void FanOut(benchmark::State& bench, bool recorded) {
  TenListeningStates states("calls = 0\nfunction callback() calls = calls + 1 end");
  void* const device = sim::HandleOf(2);
  recorder::Recorder* recording = nullptr;
  if (recorded) {
    SetEnvironment("VEXLAN_RECORDER_LIBRARY", "");
    SetEnvironment("VEXLAN_RECORDER_TRACE", (std::filesystem::temp_directory_path() / "vexlan-bench-events.trace").string());
    recording = &recorder::Recorder::Instance();
    recording->Initialize(u"bench");
    recording->RegisterSoftButtonCallback(device, FanOutHandler, nullptr);
  }
  uint32_t mask = 1;
  const double before = states.Sum("calls");
  for (auto _ : bench) {
    mask ^= 3;  // every event a new mask: buttons down and up, three callbacks in each client
    if (recorded)
      recorder::Recorder::OnSoftButtons(device, mask, nullptr);
    else
      FanOutHandler(device, mask, nullptr);
  }
  if (recording != nullptr) recording->Deinitialize();  // the writer thread ends with everything written
  // Three callbacks in each client for every event (the first may find the mask it sets already there).
  const double callbacks = states.Sum("calls") - before;
  bench.counters["callbacks_per_event"] = callbacks / static_cast<double>(bench.iterations());
  if (callbacks < 3.0 * kListeningStates * (static_cast<double>(bench.iterations()) - 1)) bench.SkipWithError("a callback did not run");
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

// vexlan.canvas from Lua 5.1: a whole gauge frame drawn and turned into its raw string (as frames per
// second), and raw() alone against a memcpy of the same 307224 bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "output/image_convert.h"
#include "platform/lua_api.h"

extern "C" {
#include <lualib.h>
}

extern "C" int luaopen_vexlan_canvas(lua_State* state);

namespace vexlan::bench {
namespace {

// A state where `require "vexlan.canvas"` opens the canvas linked into this program, with `setup` run
// once and `call` (a global function it defines) compiled for the iterations.
class CanvasScript {
 public:
  explicit CanvasScript(const char* setup) : state_(luaL_newstate()) {
    luaL_openlibs(state_);
    lua_getglobal(state_, "package");
    lua_getfield(state_, -1, "preload");
    lua_pushcfunction(state_, luaopen_vexlan_canvas);
    lua_setfield(state_, -2, "vexlan.canvas");
    lua_pop(state_, 2);
    ok_ = luaL_dostring(state_, setup) == 0;
    lua_getglobal(state_, "call");
    function_ = luaL_ref(state_, LUA_REGISTRYINDEX);
  }
  ~CanvasScript() { lua_close(state_); }
  CanvasScript(const CanvasScript&) = delete;
  CanvasScript& operator=(const CanvasScript&) = delete;

  bool ok() const { return ok_; }
  double Run() {
    lua_rawgeti(state_, LUA_REGISTRYINDEX, function_);
    if (lua_pcall(state_, 0, 1, 0) != 0) ok_ = false;
    const double result = lua_tonumber(state_, -1);
    lua_pop(state_, 1);
    return result;
  }

 private:
  lua_State* state_;
  int function_ = LUA_NOREF;
  bool ok_;
};

void RunScript(benchmark::State& bench, const char* setup) {
  CanvasScript script(setup);
  if (!script.ok() || script.Run() != static_cast<double>(kRawImageBytes) || !script.ok())
    return bench.SkipWithError("the script failed or gave no raw image");
  for (auto _ : bench) benchmark::DoNotOptimize(script.Run());
}

// A gauge: background, dial, 36 ticks (every third thicker), a coloured band, a moving needle, three
// lines of text, then the raw string SetImage would take.
constexpr char kGaugeFrame[] = R"(
local canvas = require "vexlan.canvas"
local c = canvas.new()
local sin, cos, rad = math.sin, math.cos, math.rad
local value = 0
function call()
  value = (value + 7) % 270
  c:fill(0x0a1428):circle(160, 120, 100, 0x303850, true):circle(160, 120, 100, 0xffffff)
  for i = 0, 35 do
    local s, k = sin(rad(i * 10)), cos(rad(i * 10))
    local major = i % 3 == 0
    local inner = major and 80 or 88
    c:line(160 + inner * s, 120 - inner * k, 160 + 96 * s, 120 - 96 * k, 0xffffff, major and 3 or 1)
  end
  c:arc(160, 120, 70, -135, 90, 0x00c000, 8):arc(160, 120, 70, 90, 135, 0xff0000, 8)
  local n = rad(value - 135)
  c:line(160, 120, 160 + 75 * sin(n), 120 - 75 * cos(n), 0xffa000, 4):circle(160, 120, 6, 0xffa000, true)
  c:text(4, 4, "HDG 270", 0xffff00, 2)
  c:text(120, 150, "ALT 12500", 0xffffff)
  c:text(120, 162, "SPD 250 kt", 0xffffff)
  return #c:raw()
end
)";

void BM_CanvasGaugeFrameFromLua(benchmark::State& bench) {
  RunScript(bench, kGaugeFrame);
  bench.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(bench.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CanvasGaugeFrameFromLua);

void BM_CanvasRawFromLua(benchmark::State& bench) {
  RunScript(bench, R"(
local c = require("vexlan.canvas").new():fill(0x336699)
function call() return #c:raw() end
)");
}
BENCHMARK(BM_CanvasRawFromLua);

void BM_Baseline_Memcpy307224(benchmark::State& bench) {
  std::vector<uint8_t> from(kRawImageBytes, 1), to(kRawImageBytes);
  for (auto _ : bench) {
    std::memcpy(to.data(), from.data(), kRawImageBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Baseline_Memcpy307224);

}  // namespace
}  // namespace vexlan::bench

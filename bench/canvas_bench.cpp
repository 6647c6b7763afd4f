// vexlan.canvas from Lua 5.1: whole gauge frames drawn and turned into their raw strings, pixel-exact
// and anti-aliased, and a full card turned with bilinear filtering (as frames per second of processor
// time), and raw() alone against a memcpy of the same 307224 bytes. The anti-aliased benchmarks also
// count the allocations of a frame's drawing once fonts and pictures are loaded: there must be none.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
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
  double Run() { return RunGlobal(function_); }
  bool Defines(const char* name) {
    lua_getglobal(state_, name);
    const bool defined = lua_isfunction(state_, -1);
    lua_pop(state_, 1);
    return defined;
  }
  // The script's global function `name`, run `times` times, and the allocations that made (the process's
  // and the state's, which are made through the process's too).
  long CountAllocations(const char* name, int times) {
    lua_getglobal(state_, name);
    const int function = luaL_ref(state_, LUA_REGISTRYINDEX);
    const long before = ProcessAllocations();
    for (int i = 0; i < times; ++i) RunGlobal(function);
    const long made = ProcessAllocations() - before;
    luaL_unref(state_, LUA_REGISTRYINDEX, function);
    return made;
  }

 private:
  double RunGlobal(int function) {
    lua_rawgeti(state_, LUA_REGISTRYINDEX, function);
    if (lua_pcall(state_, 0, 1, 0) != 0) ok_ = false;
    const double result = lua_tonumber(state_, -1);
    lua_pop(state_, 1);
    return result;
  }

  lua_State* state_;
  int function_ = LUA_NOREF;
  bool ok_;
};

void RunScript(benchmark::State& bench, const char* setup) {
  CanvasScript script(setup);
  if (!script.ok() || script.Run() != static_cast<double>(kRawImageBytes) || !script.ok())
    return bench.SkipWithError("the script failed or gave no raw image");
  for (auto _ : bench) benchmark::DoNotOptimize(script.Run());
  bench.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(bench.iterations()), benchmark::Counter::kIsRate);
  // A script that defines draw(): the drawing alone, after the frames above grew every scratch buffer.
  if (!script.Defines("draw")) return;
  constexpr int kFrames = 100;
  const long made = script.CountAllocations("draw", kFrames);
  bench.counters["allocs_per_frame"] = static_cast<double>(made) / kFrames;
  if (made != 0 || !script.ok()) bench.SkipWithError("drawing a frame allocated memory");
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

void BM_CanvasGaugeFrameFromLua(benchmark::State& bench) { RunScript(bench, kGaugeFrame); }
BENCHMARK(BM_CanvasGaugeFrameFromLua);

// The same gauge, anti-aliased: a dial with its rim, 36 ticks, three coloured bands, a polygon needle
// (its table reused), three lines of TrueType text (DejaVu Sans, two sizes), then the raw string.
constexpr char kSmoothGaugeFrame[] = R"(
local canvas = require "vexlan.canvas"
local c = canvas.new()
local point = canvas.point
local value = 0
local needle = {0, 0, 0, 0, 0, 0, 0, 0}
function draw()
  value = (value + 7) % 270
  c:fill(0x0a1428):circle(160, 120, 100, 0x303850, true):circle(160, 120, 100, 0xffffff, false, 2)
  for i = 0, 35 do
    local major = i % 3 == 0
    local x0, y0 = point(160, 120, major and 80 or 88, i * 10)
    local x1, y1 = point(160, 120, 96, i * 10)
    c:line(x0, y0, x1, y1, 0xffffff, major and 3 or 1.5)
  end
  c:ring(160, 120, 62, 70, 0x00c000, -135, 45):ring(160, 120, 62, 70, 0xffc000, 45, 90)
   :ring(160, 120, 62, 70, 0xff0000, 90, 135)
  local angle = value - 135
  needle[1], needle[2] = point(160, 120, 78, angle)
  needle[3], needle[4] = point(160, 120, 6, angle + 90)
  needle[5], needle[6] = point(160, 120, 14, angle + 180)
  needle[7], needle[8] = point(160, 120, 6, angle - 90)
  c:polygon(needle, 0xffa000, true):circle(160, 120, 7, 0xffa000, true)
  c:text(160, 4, "HDG 270°", 0xffff00, 20, "centre")
  c:text(160, 150, "ALT 12500", 0xffffff, 14, "centre")
  c:text(160, 168, "SPD 250 kt", 0xffffff, 14, "centre")
end
function call()
  draw()
  return #c:raw()
end
)";

void BM_CanvasSmoothGaugeFrameFromLua(benchmark::State& bench) { RunScript(bench, kSmoothGaugeFrame); }
BENCHMARK(BM_CanvasSmoothGaugeFrameFromLua);

// A full 320x240 compass card turned a little further each frame about its centre, bilinear, onto the
// panel's canvas, then the raw string.
constexpr char kTurnedCard[] = R"(
local canvas = require "vexlan.canvas"
local card = canvas.new(320, 240):fill(0x202020)
for i = 0, 71 do
  local x0, y0 = canvas.point(160, 120, 100, i * 5)
  local x1, y1 = canvas.point(160, 120, i % 2 == 0 and 84 or 92, i * 5)
  card:line(x0, y0, x1, y1, 0xffffff, 2)
end
card:text(160, 30, "N", 0xff4040, 20, "centre")
local c = canvas.new()
local heading = 0
function draw()
  heading = (heading + 1.3) % 360
  c:draw(card, 160, 120, -heading, 1, 160, 120)
end
function call()
  draw()
  return #c:raw()
end
)";

void BM_CanvasTurnedCardFromLua(benchmark::State& bench) { RunScript(bench, kTurnedCard); }
BENCHMARK(BM_CanvasTurnedCardFromLua);

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

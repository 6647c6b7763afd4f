// Images and texts: conversion and whole calls against memcpy of one device image, resized files
// against the platform decoder's own decode of the same file, and the heap allocations each call makes.
#include <benchmark/benchmark.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include "stb_image_write.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "output/image_convert.h"

namespace vexlan::bench {
namespace {

void BM_Baseline_Memcpy230400(benchmark::State& bench) {
  std::vector<uint8_t> from(kDeviceImageBytes, 1), to(kDeviceImageBytes);
  for (auto _ : bench) {
    std::memcpy(to.data(), from.data(), kDeviceImageBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Baseline_Memcpy230400);

std::vector<uint8_t> RandomRaw() {
  std::vector<uint8_t> raw(kRawImageBytes);
  std::mt19937 random(1);
  for (uint8_t& byte : raw) byte = static_cast<uint8_t>(random());
  return raw;
}

void BM_ConvertRawImage(benchmark::State& bench) {
  const std::vector<uint8_t> raw = RandomRaw();
  std::vector<uint8_t> device(kDeviceImageBytes);
  for (auto _ : bench) {
    ConvertRawImage(raw.data(), device.data());
    benchmark::DoNotOptimize(device.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ConvertRawImage);

// Each vector path on its own (0 AVX-512 VBMI, 1 AVX2, 2 SSSE3, 3 the byte loop).
void BM_ConvertRawImage_Path(benchmark::State& bench) {
  const std::vector<uint8_t> raw = RandomRaw();
  std::vector<uint8_t> device(kDeviceImageBytes);
  const auto path = static_cast<ConversionPath>(bench.range(0));
  if (!ConvertRawImageWith(path, raw.data(), device.data())) return bench.SkipWithError("not on this processor");
  for (auto _ : bench) {
    ConvertRawImageWith(path, raw.data(), device.data());
    benchmark::DoNotOptimize(device.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ConvertRawImage_Path)->DenseRange(0, 2);

void BM_ConvertRawImage_ByteLoop(benchmark::State& bench) {
  const std::vector<uint8_t> raw = RandomRaw();
  std::vector<uint8_t> device(kDeviceImageBytes);
  for (auto _ : bench) {
    ConvertRawImageScalar(raw.data(), device.data());
    benchmark::DoNotOptimize(device.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ConvertRawImage_ByteLoop);

// A state with a panel page, and `call` compiled once: each iteration is one protected call of it.
class ScriptCall {
 public:
  explicit ScriptCall(const std::string& body) {
    UseQuietSimulator();
    state_ = NewCountingState();
    const std::vector<uint8_t> raw = RandomRaw();
    lua_pushlstring(state_, reinterpret_cast<const char*>(raw.data()), raw.size());
    lua_setglobal(state_, "picture");
    luaL_dostring(state_, ("vexlan.AddPage('SFIP', 1, 1, true)\ncall = function() " + body + " end").c_str());
    lua_getglobal(state_, "call");
    function_ = luaL_ref(state_, LUA_REGISTRYINDEX);
  }
  ~ScriptCall() { lua_close(state_); }
  double Run() {
    lua_rawgeti(state_, LUA_REGISTRYINDEX, function_);
    lua_pcall(state_, 0, 1, 0);
    const double result = lua_tonumber(state_, -1);
    lua_pop(state_, 1);
    return result;
  }

 private:
  lua_State* state_;
  int function_;
};

void RunScriptCall(benchmark::State& bench, const std::string& body) {
  ScriptCall call(body);
  if (call.Run() != 0) bench.SkipWithError("the call did not answer 0");
  call.Run();  // warm up: per-thread storage, the simulator's stored copy
  const long before = ProcessAllocations();
  for (auto _ : bench) benchmark::DoNotOptimize(call.Run());
  bench.counters["process_allocs_per_call"] =
      benchmark::Counter(static_cast<double>(ProcessAllocations() - before) / bench.iterations());
}

void BM_SetImageFromLua(benchmark::State& bench) {
  RunScriptCall(bench, "return vexlan.SetImage('SFIP', 1, 1, 1, picture)");
}
BENCHMARK(BM_SetImageFromLua);

void BM_SetStringFromLua(benchmark::State& bench) {
  RunScriptCall(bench, "return vexlan.SetString('SFIP', 1, 1, 1, 'ALT 12500 FT')");
}
BENCHMARK(BM_SetStringFromLua);

void BM_SetProfileFromLua(benchmark::State& bench) {
  RunScriptCall(bench, "return vexlan.SetProfile('SFIP', 1, 'C:/profiles/cockpit.pr0')");
}
BENCHMARK(BM_SetProfileFromLua);

void BM_SetImageFromFileByNameFromLua(benchmark::State& bench) {
  RunScriptCall(bench, "return vexlan.SetImageFromFile('SFIP', 1, 1, 1, 'C:/pictures/panel.png')");
}
BENCHMARK(BM_SetImageFromFileByNameFromLua);

// A 1920x1080 picture with smooth areas and detail, as PNG and as JPEG, written once per run.
std::string PictureFile(const char* type) {
  static std::string directory;
  if (directory.empty()) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("vexlan-bench-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    directory = folder.generic_string();
    std::vector<uint8_t> pixels(1920 * 1080 * 3);
    std::mt19937 random(3);
    for (int y = 0; y < 1080; ++y)
      for (int x = 0; x < 1920; ++x) {
        uint8_t* p = pixels.data() + (y * 1920 + x) * 3;
        p[0] = static_cast<uint8_t>(x / 8 + (random() & 7));
        p[1] = static_cast<uint8_t>(y / 5 + ((x ^ y) & 16));
        p[2] = static_cast<uint8_t>((x + y) / 12);
      }
    stbi_write_png((directory + "/picture.png").c_str(), 1920, 1080, 3, pixels.data(), 1920 * 3);
    stbi_write_jpg((directory + "/picture.jpg").c_str(), 1920, 1080, 3, pixels.data(), 90);
  }
  return directory + "/picture." + type;
}

void ResizedFromLua(benchmark::State& bench, const char* type) {
  RunScriptCall(bench, "return vexlan.SetImageFromFile('SFIP', 1, 1, 1, '" + PictureFile(type) + "', true)");
}
void BaselineDecode(benchmark::State& bench, const char* type) {
  const std::string path = PictureFile(type);
  for (auto _ : bench) DecodeWithPlatform(path);
}
void BM_SetImageFromFileResized_Png1080(benchmark::State& bench) { ResizedFromLua(bench, "png"); }
void BM_Baseline_PlatformDecode_Png1080(benchmark::State& bench) { BaselineDecode(bench, "png"); }
void BM_SetImageFromFileResized_Jpeg1080(benchmark::State& bench) { ResizedFromLua(bench, "jpg"); }
void BM_Baseline_PlatformDecode_Jpeg1080(benchmark::State& bench) { BaselineDecode(bench, "jpg"); }
BENCHMARK(BM_SetImageFromFileResized_Png1080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_PlatformDecode_Png1080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetImageFromFileResized_Jpeg1080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_PlatformDecode_Jpeg1080)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexlan::bench

#include "bench/bench_support.h"

#include <cstdlib>

#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"
#include "tests/support/lua_state.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
}

namespace {
std::atomic<long> process_allocations{0};
std::atomic<long> lua_allocations{0};
}  // namespace

// glibc lets a program replace malloc; these count and forward to glibc's own.
extern "C" void* malloc(size_t size) {
  process_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  process_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size) {
  process_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(block, size);
}

namespace vexlan::bench {

long ProcessAllocations() { return process_allocations.load(); }
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

}  // namespace vexlan::bench

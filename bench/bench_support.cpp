#include "bench/bench_support.h"

#include <cstdlib>

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

}  // namespace vexlan::bench

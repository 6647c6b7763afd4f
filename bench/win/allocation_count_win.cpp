// Every malloc, calloc and realloc made by the code linked into the benchmark program (the module, the
// C++ library, the benchmark itself; not lua51.dll or the C run-time library's own): the linker sends
// them here (--wrap), and these count and forward to the real ones.
#include <atomic>
#include <cstddef>

#include "bench/bench_support.h"

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
}

namespace {
std::atomic<long> program_allocations{0};
}  // namespace

extern "C" void* __wrap_malloc(size_t size) {
  program_allocations.fetch_add(1, std::memory_order_relaxed);
  return __real_malloc(size);
}
extern "C" void* __wrap_calloc(size_t count, size_t size) {
  program_allocations.fetch_add(1, std::memory_order_relaxed);
  return __real_calloc(count, size);
}
extern "C" void* __wrap_realloc(void* block, size_t size) {
  program_allocations.fetch_add(1, std::memory_order_relaxed);
  return __real_realloc(block, size);
}

long vexlan::bench::ProcessAllocations() { return program_allocations.load(); }

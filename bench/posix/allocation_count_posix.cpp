// Every malloc, calloc and realloc of the process: glibc lets a program replace them; these count and
// forward to glibc's own.
#include <atomic>
#include <cstddef>

#include "bench/bench_support.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
}

namespace {
std::atomic<long> process_allocations{0};
}  // namespace

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

long vexlan::bench::ProcessAllocations() { return process_allocations.load(); }

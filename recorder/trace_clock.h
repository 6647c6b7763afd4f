// The trace's clock. A record's time is read on the path of every call and callback, so it is the
// cheapest counter that only goes forward: on x86-64 the processor's time-stamp counter (a register read,
// where steady_clock costs a system call of about 100 ns under Wine), elsewhere steady_clock itself.
// Readings become seconds only when they are written, on the writer's thread, scaled against steady_clock
// over the whole time from the origin to the last calibration, so the counter's rate is never assumed. It
// must be constant, as on every x86-64 processor with an invariant time-stamp counter.
#pragma once

#include <chrono>
#include <cstdint>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace vexlan::recorder {

inline uint64_t ReadTicks() {
#if defined(__x86_64__)
  return __rdtsc();
#else
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

class TraceClock {
 public:
  TraceClock();  // the origin: now

  // Measures the ticks' rate from the origin to now. Readings taken before this call then convert to
  // within about the resolution of steady_clock.
  void Calibrate();
  // Seconds from the origin to a reading (0 for one taken before the origin).
  double Seconds(uint64_t ticks) const;

 private:
  uint64_t origin_ticks_;
  std::chrono::steady_clock::time_point origin_time_;
  double seconds_per_tick_ = 0;  // 0 until a calibration has seen both clocks move
};

}  // namespace vexlan::recorder

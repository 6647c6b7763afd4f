#include "recorder/trace_clock.h"

namespace vexlan::recorder {

TraceClock::TraceClock() : origin_ticks_(ReadTicks()), origin_time_(std::chrono::steady_clock::now()) {}

void TraceClock::Calibrate() {
  const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  const uint64_t ticks = ReadTicks();
  const double seconds = std::chrono::duration<double>(now - origin_time_).count();
  if (seconds > 0 && ticks > origin_ticks_) seconds_per_tick_ = seconds / static_cast<double>(ticks - origin_ticks_);
}

double TraceClock::Seconds(uint64_t ticks) const {
  if (ticks <= origin_ticks_) return 0;
  return static_cast<double>(ticks - origin_ticks_) * seconds_per_tick_;
}

}  // namespace vexlan::recorder

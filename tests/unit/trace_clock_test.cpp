// The trace's clock: counter readings turned into seconds against steady_clock after the fact.
#include "recorder/trace_clock.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vexlan::recorder {
namespace {

double SecondsSince(std::chrono::steady_clock::time_point origin) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
}

TEST(TraceClock, AReadingConvertsToTheSteadyTimeBetweenTheReadsAroundIt) {
  const auto before_origin = std::chrono::steady_clock::now();
  TraceClock clock;
  const auto after_origin = std::chrono::steady_clock::now();
  EXPECT_EQ(clock.Seconds(0), 0);  // before the origin
  // Readings 10 ms and 50 ms in, each between two steady times; a busy wait has its deadline in itself.
  double low[2], high[2];
  uint64_t ticks[2];
  const double at[2] = {0.010, 0.050};
  for (int i = 0; i < 2; ++i) {
    while (SecondsSince(after_origin) < at[i]) continue;
    low[i] = SecondsSince(after_origin);
    ticks[i] = ReadTicks();
    high[i] = SecondsSince(before_origin);
  }
  clock.Calibrate();
  // A thread preempted between two reads widens the window; 2 ms covers a busy machine's slice.
  for (int i = 0; i < 2; ++i) {
    EXPECT_GE(clock.Seconds(ticks[i]), low[i] - 0.002) << i;
    EXPECT_LE(clock.Seconds(ticks[i]), high[i] + 0.002) << i;
  }
  EXPECT_LT(clock.Seconds(ticks[0]), clock.Seconds(ticks[1]));
}

}  // namespace
}  // namespace vexlan::recorder

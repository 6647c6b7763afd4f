// Replaying a trace: the check of a script's calls against the recorded ones, and the trace's device
// events as a scenario for the simulated library.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "recorder/trace_record.h"

namespace vexlan::recorder {

// Reads a whole trace: its records in order, or false with `error` ("LINE: what is wrong").
bool ReadTrace(const std::string& text, std::vector<TraceRecord>* records, std::string* error);

// Compares calls, as they come, with a trace's calls. The calls made outside callbacks form one sequence,
// and the calls made from each callback (by its kind, device and number) another, so that a callback that
// runs a little earlier or later than it did while recording is no difference. The first difference is
// the one that comes first in the trace.
class ReplayCheck {
 public:
  explicit ReplayCheck(std::vector<TraceRecord> records);

  // The recorded call that `actual` matched, or null: a difference, or nothing more was recorded there.
  // The pointer stays valid for the life of the check.
  const TraceRecord* Check(const TraceRecord& actual);
  // At a Deinitialize: every call recorded before the one matched and never made is a difference.
  void CloseSession(const TraceRecord* deinitialize);
  // "no difference (N calls compared)" or the first difference: which call, what was expected, what came.
  std::string Report() const;
  bool HasDifference() const;
  uint64_t dropped_in_trace() const { return dropped_; }

 private:
  struct Difference {
    double position;  // the trace's call index
    std::string text;
  };
  void Note(double position, std::string text) REQUIRES(mutex_);
  std::string Where(size_t index) const;

  const std::vector<TraceRecord> calls_;  // the trace's calls, in order
  uint64_t dropped_ = 0;
  mutable platform::FastMutex mutex_;
  std::map<std::string, std::deque<size_t>> pending_ GUARDED_BY(mutex_);  // by context
  std::map<std::string, size_t> last_matched_ GUARDED_BY(mutex_);
  std::optional<Difference> first_ GUARDED_BY(mutex_);
  uint64_t compared_ GUARDED_BY(mutex_) = 0;
};

// The trace's device events as a scenario (simulator/scenario.h): the devices it enumerated first are
// attached at start (`devices`, e.g. "X52P,SFIP"); arrivals become plug or replug (under a new handle when
// a new handle answered with an instance seen before), removals unplug, pages and soft buttons the same.
// Times count from the first Initialize. The key events of `keys` (a scenario's text, may be empty) are
// merged in, as standard input is not in a trace. False with `error` when either cannot be read.
bool TraceToScenario(const std::string& trace, const std::string& keys, std::string* scenario, std::string* devices,
                     std::string* error);

}  // namespace vexlan::recorder

// Replaying a trace: the check of a script's calls against the recorded ones, and the trace's device
// events as a scenario for the simulated library.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "recorder/trace_record.h"

namespace vexlan::recorder {

// Reads a whole trace: its records in order, or false with `error` ("LINE: what is wrong").
bool ReadTrace(const std::string& text, std::vector<TraceRecord>* records, std::string* error);

// Compares calls, as they come, with a trace's calls: each call matches the earliest equal call among the
// next few not yet matched (the trace's order, with room for calls from callbacks, which may run a little
// earlier or later than they did while recording). A call that matches none is a difference at the earliest
// call not yet matched; so is a recorded call never made. The first difference is the one that comes
// first in the trace.
//
// It also keeps the device events, which the simulated library plays by the clock, from overtaking the
// script: an event is handed on only once as many calls have started as had when the event came while
// recording, or after a second (a changed script may never get there).
// The script itself is never held: a script held inside a call is busy, and the module would keep the
// event for later where the recording saw it delivered at once.
class ReplayCheck {
 public:
  explicit ReplayCheck(const std::vector<TraceRecord>& records);

  // A call is about to start.
  void BeforeCall();
  // A callback (enumerations excepted) is about to be handed to the module: waits for its turn.
  void BeforeCallback(const std::string& key);

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
  // One wait on `turn_`, no later than `deadline`; false once it has passed.
  bool WaitOnce(std::chrono::steady_clock::time_point deadline) REQUIRES(mutex_);

  struct Turn {
    std::string key;
    uint64_t calls_before;  // calls started before the event came
    bool done = false;      // handed on, or given up on
  };

  std::vector<TraceRecord> calls_;  // the trace's calls, in order; set by the constructor only
  uint64_t dropped_ = 0;
  mutable platform::FastMutex mutex_;
  std::vector<bool> matched_ GUARDED_BY(mutex_);
  std::vector<std::string> instead_ GUARDED_BY(mutex_);  // the call that came first while it was due
  size_t first_unmatched_ GUARDED_BY(mutex_) = 0;
  std::optional<Difference> first_ GUARDED_BY(mutex_);
  uint64_t compared_ GUARDED_BY(mutex_) = 0;
  std::vector<Turn> turns_ GUARDED_BY(mutex_);  // the trace's events, in order
  size_t next_turn_ GUARDED_BY(mutex_) = 0;     // the first not done
  uint64_t started_ GUARDED_BY(mutex_) = 0;
  uint64_t late_ GUARDED_BY(mutex_) = 0;  // events handed on at the deadline
  platform::FastCondition turn_;
};

// The trace's device events as a scenario (simulator/scenario.h): the devices it enumerated first are
// attached at start (`devices`, e.g. "X52P,SFIP"); arrivals become plug or replug (under a new handle when
// a new handle answered with an instance seen before), removals unplug, pages and soft buttons the same.
// Times count from the first Initialize. The key events of `keys` (a scenario's text, may be empty) are
// merged in, as standard input is not in a trace. False with `error` when either cannot be read.
bool TraceToScenario(const std::string& trace, const std::string& keys, std::string* scenario, std::string* devices,
                     std::string* error);

}  // namespace vexlan::recorder

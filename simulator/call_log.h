// The record of entry-point calls: the newest calls only, so that a library left running for hours keeps
// its size. Not locked of its own: the simulator's lock guards it.
#pragma once

#include <cstdint>
#include <vector>

#include "simulator/sim_control.h"

namespace vexlan::sim {

class CallLog {
 public:
  bool recording() const { return recording_; }
  void SetRecording(bool on) { recording_ = on; }
  // Keeps `record` with its `result` (when recording) and returns `result`.
  HResult Add(CallRecord record, HResult result);
  std::vector<CallRecord> Calls() const;
  uint64_t forgotten() const { return forgotten_; }
  void Clear();

 private:
  void ForgetOldest();

  bool recording_ = true;
  // A ring of up to kMaxRecordedCalls records whose slots are reused in place, so that recording takes no
  // memory of its own once the ring is full (a record freed and another allocated at each call fragments
  // the heap of some C libraries around the pictures' large blocks).
  std::vector<CallRecord> calls_;
  size_t oldest_ = 0;  // the ring's first slot
  size_t count_ = 0;
  size_t text_bytes_ = 0;  // of the texts in the ring
  uint64_t forgotten_ = 0;  // since the last clear
};

}  // namespace vexlan::sim

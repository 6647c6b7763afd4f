// Entry points made to fail on request (Fail, FailAfter). Not locked of its own: the simulator's lock
// guards it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "directoutput/directoutput_api.h"

namespace vexlan::sim {

class ForcedFailures {
 public:
  void Set(const std::string& name, uint32_t steps_before, HResult result) { failures_[name] = {result, steps_before}; }
  void Remove(const std::string& name) { failures_.erase(name); }
  void Clear() { failures_.clear(); }
  // One call of `name`: true (with *result) when a forced failure applies, otherwise one step used.
  bool Applies(const char* name, HResult* result);
  // One call of `name` that reports `*items` things (Enumerate: devices), each a step: the call that uses
  // up what is left of the count reports that many (*items shrinks) and then fails.
  HResult Report(const char* name, size_t* items);

 private:
  struct Failure {
    HResult result;
    uint32_t steps_before;  // calls (or things reported) still to be served normally
  };
  std::map<std::string, Failure> failures_;
};

}  // namespace vexlan::sim

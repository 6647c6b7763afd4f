#include "simulator/forced_failures.h"

namespace vexlan::sim {

bool ForcedFailures::Applies(const char* name, HResult* result) {
  auto it = failures_.find(name);
  if (it == failures_.end()) return false;
  if (it->second.steps_before > 0) {
    --it->second.steps_before;
    return false;
  }
  *result = it->second.result;
  return true;
}

HResult ForcedFailures::Report(const char* name, size_t* items) {
  auto it = failures_.find(name);
  if (it == failures_.end()) return kS_OK;
  uint32_t& left = it->second.steps_before;
  HResult result = kS_OK;
  if (*items >= left) {
    *items = left;
    result = it->second.result;
  }
  left -= static_cast<uint32_t>(*items);
  return result;
}

}  // namespace vexlan::sim

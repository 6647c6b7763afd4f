// What tests read of the binding beside its production interface: where an entry point was resolved.
#pragma once

#include "directoutput/binding.h"

namespace vexlan {

struct EntryPointTesting {
  // The address resolved by name; null when the entry point is missing.
  template <typename Signature>
  static Signature* address(const EntryPoint<Signature>& entry) {
    return entry.address_;
  }
};

}  // namespace vexlan

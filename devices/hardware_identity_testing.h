// What tests read of AnsiString beside its production interface: where its text is kept.
#pragma once

#include <cstddef>

#include "devices/hardware_identity.h"

namespace vexlan {

struct AnsiStringTesting {
  static bool on_heap(const AnsiString& text) { return text.heap_ != nullptr; }
  static size_t storage_size(const AnsiString& text) { return text.storage_size_; }
};

}  // namespace vexlan

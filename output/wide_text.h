#pragma once

#include <cstdint>

#include "directoutput/directoutput_api.h"

namespace vexlan {

// Converts the zero-terminated `text` to UTF-16 in a new malloc'd block of n + 1 units (n the byte length),
// stored in *buffer for the caller to free(). Returns the units converted, terminating zero included.
// When the block cannot be allocated, *buffer is null and the result is 0.
int32_t ToWideString(const char* text, WideChar** buffer);

}  // namespace vexlan

// How script values become DirectOutput's: number conversion, and the mapping of DirectOutput results to
// the small codes scripts see.
#pragma once

#include <cstdint>

#include "directoutput/directoutput_api.h"

namespace vexlan {

// Lua number to int32 by truncation toward zero; NaN and values outside int32 give INT32_MIN.
int32_t ToInt32(double value);

// 0 S_OK, 1 E_HANDLE, 2 E_NOTIMPL, 3 E_INVALIDARG, 4 DirectOutput's page failure, 5 E_OUTOFMEMORY,
// -1 anything else (other success codes included).
int ToResultCode(HResult result);

}  // namespace vexlan

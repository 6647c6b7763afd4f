// Result codes that tests make DirectOutput answer, beside those the module itself names.
#pragma once

#include "directoutput/directoutput_api.h"

namespace vexlan {

inline constexpr HResult kS_FALSE = 1;  // a success that is not S_OK

}  // namespace vexlan

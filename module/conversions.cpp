#include "module/conversions.h"

#include <cmath>

namespace vexlan {

int32_t ToInt32(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;  // NaN fails both comparisons
  return static_cast<int32_t>(std::trunc(value));
}

int ToResultCode(HResult result) {
  switch (result) {
    case kS_OK:
      return 0;
    case kE_HANDLE:
      return 1;
    case kE_NOTIMPL:
      return 2;
    case kE_INVALIDARG:
      return 3;
    case kE_PAGENOTACTIVE:
      return 4;
    case kE_OUTOFMEMORY:
      return 5;
    default:
      return -1;
  }
}

}  // namespace vexlan

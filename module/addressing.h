// The vocabulary every device function shares: device-type tags, (tag, ordinal) addressing rules,
// number conversion and the mapping of DirectOutput results to the small codes scripts see.
#pragma once

#include <cstdint>

#include "directoutput/directoutput_api.h"

namespace vexlan {

enum class DeviceTypeTag : uint32_t {
  kSfip = 0x53464950,  // "SFIP", the Flight Instrument Panel
  kX52p = 0x58353250,  // "X52P", the X52 Pro
  kUnkn = 0x554E4B4E,  // "UNKN", any other device, and any text that is neither of the above
};

// The tag of a zero-terminated text: exact, case-sensitive, compared up to the text's terminator.
DeviceTypeTag TagFromString(const char* text);
DeviceTypeTag TagFromTypeGuid(const Guid& type);
// One of the three constant strings "SFIP", "X52P", "UNKN".
const char* TagString(DeviceTypeTag tag);
inline const char* TagStringOfType(const Guid& type) { return TagString(TagFromTypeGuid(type)); }

// Lua number to int32 by truncation toward zero; NaN and values outside int32 give INT32_MIN.
int32_t ToInt32(double value);

// 0 S_OK, 1 E_HANDLE, 2 E_NOTIMPL, 3 E_INVALIDARG, 4 DirectOutput's page failure, 5 E_OUTOFMEMORY,
// -1 anything else (other success codes included).
int ToResultCode(HResult result);

inline bool SameGuid(const Guid& a, const Guid& b) {
  const auto* x = reinterpret_cast<const unsigned char*>(&a);
  const auto* y = reinterpret_cast<const unsigned char*>(&b);
  for (int i = 0; i < 16; ++i)
    if (x[i] != y[i]) return false;
  return true;
}

}  // namespace vexlan

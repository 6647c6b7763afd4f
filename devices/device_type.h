// The device-type vocabulary: the tags scripts name devices by, and how they follow from device-type
// GUIDs and from text.
#pragma once

#include <cstdint>

#include "directoutput/directoutput_api.h"

namespace vexlan {

// The four characters of the tag, most significant byte first.
enum class DeviceTypeTag : uint32_t {
  kSfip = 0x53464950,  // "SFIP", the Flight Instrument Panel
  kX52p = 0x58353250,  // "X52P", the X52 Pro
  kUnkn = 0x554E4B4E,  // "UNKN", any other device, and any text that is neither of the above
};

inline constexpr int kDeviceTypeTagCount = 3;

// The tag of a zero-terminated text: exact, case-sensitive, compared up to the text's terminator.
DeviceTypeTag TagFromString(const char* text);
DeviceTypeTag TagFromTypeGuid(const Guid& type);
// One of the three constant strings "SFIP", "X52P", "UNKN".
const char* TagString(DeviceTypeTag tag);

// 0, 1 and 2 for SFIP, X52P and UNKN: a place in arrays kept per tag.
constexpr int TagIndex(DeviceTypeTag tag) {
  return tag == DeviceTypeTag::kSfip ? 0 : tag == DeviceTypeTag::kX52p ? 1 : 2;
}
inline constexpr DeviceTypeTag kDeviceTypeTags[kDeviceTypeTagCount] = {DeviceTypeTag::kSfip, DeviceTypeTag::kX52p,
                                                                       DeviceTypeTag::kUnkn};

inline bool SameGuid(const Guid& a, const Guid& b) {
  const auto* x = reinterpret_cast<const unsigned char*>(&a);
  const auto* y = reinterpret_cast<const unsigned char*>(&b);
  for (int i = 0; i < 16; ++i)
    if (x[i] != y[i]) return false;
  return true;
}

}  // namespace vexlan

#include "devices/device_type.h"

namespace vexlan {
namespace {

// Byte-by-byte comparison including the terminator, stopping at the first difference, so that a shorter
// text is never read past its own end.
bool EqualsTerminated(const char* text, const char* constant) {
  for (;; ++text, ++constant) {
    if (*text != *constant) return false;
    if (*text == '\0') return true;
  }
}

}  // namespace

DeviceTypeTag TagFromString(const char* text) {
  if (text == nullptr) return DeviceTypeTag::kUnkn;
  if (EqualsTerminated(text, "SFIP")) return DeviceTypeTag::kSfip;
  if (EqualsTerminated(text, "X52P")) return DeviceTypeTag::kX52p;
  return DeviceTypeTag::kUnkn;
}

DeviceTypeTag TagFromTypeGuid(const Guid& type) {
  if (SameGuid(type, kDeviceTypeFip)) return DeviceTypeTag::kSfip;
  if (SameGuid(type, kDeviceTypeX52Pro)) return DeviceTypeTag::kX52p;
  return DeviceTypeTag::kUnkn;
}

const char* TagString(DeviceTypeTag tag) {
  switch (tag) {
    case DeviceTypeTag::kSfip:
      return "SFIP";
    case DeviceTypeTag::kX52p:
      return "X52P";
    case DeviceTypeTag::kUnkn:
      break;
  }
  return "UNKN";
}

}  // namespace vexlan

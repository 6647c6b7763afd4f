// The catalogue of device kinds: the tags scripts name devices by, the device-type GUID behind each, and
// what each unit has. Every layer reads its kinds from here: the device table and events, the simulator
// (which gives each plugged device the kind's GUID), its web page (through /state), and Lua (through
// vexlan.kinds, which the companion layer and the run command read). A new kind is a row here.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>

#include "directoutput/directoutput_api.h"

namespace vexlan {

// The four characters of the tag, most significant byte first.
enum class DeviceTypeTag : uint32_t {
  kSfip = 0x53464950,  // "SFIP"
  kX52p = 0x58353250,  // "X52P"
  kUnkn = 0x554E4B4E,  // "UNKN"
};

inline constexpr Guid kDeviceTypeFip = {0x3E083CD8, 0x6A37, 0x4A58, {0x80, 0xA8, 0x3D, 0x6A, 0x2C, 0x07, 0x51, 0x3E}};
inline constexpr Guid kDeviceTypeX52Pro = {
    0x29DAD506, 0xF93B, 0x4F20, {0x85, 0xFA, 0x1E, 0x02, 0xC0, 0x4F, 0xAC, 0x17}};
// No hardware reports it: the type the simulator gives a device of a kind the module does not know.
inline constexpr Guid kDeviceTypeUnknown = {
    0x0D15EA5E, 0x0000, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

struct DeviceKind {
  DeviceTypeTag tag;
  const char* name;  // the tag as scripts write it
  Guid type;
  bool has_screen;      // a kImageWidth x kImageHeight screen that takes SetImage
  int display_lines;    // lines of a text display (0: none)
  int display_columns;  // characters such a line shows; the rest of a longer string is not seen
  const char* model;
};

// The last row stands for any other device, and any text that names none of the others.
inline constexpr DeviceKind kDeviceKinds[] = {
    {DeviceTypeTag::kSfip, "SFIP", kDeviceTypeFip, true, 0, 0, "Flight Instrument Panel"},
    {DeviceTypeTag::kX52p, "X52P", kDeviceTypeX52Pro, false, 3, 16, "X52 Pro"},
    {DeviceTypeTag::kUnkn, "UNKN", kDeviceTypeUnknown, false, 0, 0, "a device of another type"},
};
inline constexpr int kDeviceTypeTagCount = static_cast<int>(std::size(kDeviceKinds));
inline constexpr const DeviceKind& kUnknownKind = kDeviceKinds[kDeviceTypeTagCount - 1];

// The kind's row in kDeviceKinds: a place in arrays kept per tag.
constexpr int TagIndex(DeviceTypeTag tag) {
  for (int i = 0; i + 1 < kDeviceTypeTagCount; ++i)
    if (kDeviceKinds[i].tag == tag) return i;
  return kDeviceTypeTagCount - 1;
}
constexpr const DeviceKind& KindOfTag(DeviceTypeTag tag) { return kDeviceKinds[TagIndex(tag)]; }

inline bool SameGuid(const Guid& a, const Guid& b) {
  const auto* x = reinterpret_cast<const unsigned char*>(&a);
  const auto* y = reinterpret_cast<const unsigned char*>(&b);
  for (int i = 0; i < 16; ++i)
    if (x[i] != y[i]) return false;
  return true;
}

// Byte-by-byte comparison including the terminator, stopping at the first difference, so that a shorter
// text is never read past its own end.
inline bool EqualsTerminated(const char* text, const char* constant) {
  for (;; ++text, ++constant) {
    if (*text != *constant) return false;
    if (*text == '\0') return true;
  }
}

// The kind a zero-terminated text names: exact, case-sensitive, compared up to the text's terminator.
inline const DeviceKind& KindOfName(const char* text) {
  for (const DeviceKind& kind : kDeviceKinds)
    if (text != nullptr && EqualsTerminated(text, kind.name)) return kind;
  return kUnknownKind;
}
inline const DeviceKind& KindOfType(const Guid& type) {
  for (const DeviceKind& kind : kDeviceKinds)
    if (SameGuid(type, kind.type)) return kind;
  return kUnknownKind;
}

// The names of every kind, for messages: "SFIP, X52P or UNKN".
inline std::string KindNameList() {
  std::string list;
  for (int i = 0; i < kDeviceTypeTagCount; ++i)
    list += (i == 0 ? "" : i + 1 == kDeviceTypeTagCount ? " or " : ", ") + std::string(kDeviceKinds[i].name);
  return list;
}

inline DeviceTypeTag TagFromString(const char* text) { return KindOfName(text).tag; }
inline DeviceTypeTag TagFromTypeGuid(const Guid& type) { return KindOfType(type).tag; }
// The kind's constant name: "SFIP", "X52P", "UNKN".
inline const char* TagString(DeviceTypeTag tag) { return KindOfTag(tag).name; }

}  // namespace vexlan

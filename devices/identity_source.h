// Where the hardware identity of a device comes from: the operating system's view of the HID device
// behind a DirectInput instance GUID. Three operations, each silent on failure.
#pragma once

#include <cstddef>

#include "directoutput/directoutput_api.h"
#include "platform/mutex.h"

namespace vexlan {

inline constexpr size_t kDevicePathUnits = 260;
inline constexpr size_t kHidStringUnits = 64;  // 128 bytes

class HidInterfaceVisitor {
 public:
  // `instance_id` is zero-terminated with `length` units; `interface_path` is what ReadStrings opens.
  virtual void Visit(const char16_t* instance_id, size_t length, const char16_t* interface_path) = 0;

 protected:
  ~HidInterfaceVisitor() = default;
};

struct HidStrings {
  bool opened = false;
  bool product_read = false;
  bool serial_read = false;
  char16_t product[kHidStringUnits] = {};
  char16_t serial[kHidStringUnits] = {};
};

class IdentitySource {
 public:
  virtual ~IdentitySource() = default;
  // Creates the shared DirectInput interface (first open). False when it cannot be created. Called with
  // the lock that DevicePath's `creation_lock` names held.
  virtual bool Start() = 0;
  // Releases it (last close, or a failed first open), with the same lock held.
  virtual void Stop() = 0;
  // DirectInput's role: the device interface path for a device-instance GUID, zero-terminated in
  // `path` (kDevicePathUnits + 1 units). The interface is read and the DirectInput device created under
  // `creation_lock`, and nothing else is done under it. False, with path empty, when there is no such device or no path.
  virtual bool DevicePath(const Guid& instance, platform::Mutex& creation_lock, char16_t* path) = 0;
  // SetupAPI's role: every present HID interface, in enumeration order, that has an instance id.
  virtual void ForEachHidInterface(HidInterfaceVisitor& visitor) = 0;
  // HID's role: opens one interface and reads its product and serial strings.
  virtual HidStrings ReadStrings(const char16_t* interface_path) = 0;
};

// The operating system's source: DirectInput 8, SetupAPI and HID on Windows; on POSIX systems there is
// no DirectInput, so no device path is ever found and every identity is empty.
IdentitySource& PlatformIdentitySource();

}  // namespace vexlan

// POSIX systems have no DirectInput: the source starts (so the device manager can open) but never finds
// a device path, so every hardware identity is empty and returning units are matched by type alone.
#include "devices/identity_source.h"

namespace vexlan {
namespace {

class NoDirectInputSource final : public IdentitySource {
 public:
  bool Start() override { return true; }
  void Stop() override {}
  bool DevicePath(const Guid&, platform::Mutex&, char16_t* path) override {
    path[0] = 0;
    return false;
  }
  void ForEachHidInterface(HidInterfaceVisitor&) override {}
  HidStrings ReadStrings(const char16_t*) override { return HidStrings{}; }
};

}  // namespace

IdentitySource& PlatformIdentitySource() {
  static NoDirectInputSource source;
  return source;
}

}  // namespace vexlan

// The hardware identity on Windows: DirectInput 8 gives the device interface path of an instance GUID,
// SetupAPI walks the present HID interfaces with their instance ids, HID reads the unit's strings.
#define DIRECTINPUT_VERSION 0x0800
#include <windows.h>
// clang-format off
#include <dinput.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include <cstring>

#include "devices/identity_source.h"

namespace vexlan {
namespace {

static_assert(sizeof(Guid) == sizeof(GUID), "GUID layouts agree");

// Releases a COM interface when it goes out of scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T** out() { return &p_; }
  T* operator->() const { return p_; }

 private:
  T* p_ = nullptr;
};

class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~DeviceInfoSet() {
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class DirectInputSource final : public IdentitySource {
 public:
  bool Start() override {
    IDirectInput8W* created = nullptr;
    const HRESULT hr = DirectInput8Create(GetModuleHandleW(nullptr), 0x0800, IID_IDirectInput8W,
                                          reinterpret_cast<void**>(&created), nullptr);
    if (FAILED(hr)) return false;
    direct_input_ = created;
    return true;
  }

  void Stop() override {
    if (direct_input_ != nullptr) direct_input_->Release();
    direct_input_ = nullptr;
  }

  bool DevicePath(const Guid& instance, platform::Mutex& creation_lock, char16_t* path) override {
    path[0] = 0;
    ComRef<IDirectInputDevice8W> device;
    HRESULT created = E_FAIL;
    {
      // The last close releases the interface under the same lock.
      platform::MutexLock lock(creation_lock);
      if (direct_input_ != nullptr)
        created = direct_input_->CreateDevice(reinterpret_cast<const GUID&>(instance), device.out(), nullptr);
    }
    if (FAILED(created)) return false;
    DIPROPGUIDANDPATH property;
    std::memset(&property, 0, sizeof property);
    property.diph.dwSize = sizeof(DIPROPGUIDANDPATH);
    property.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    property.diph.dwObj = 0;
    property.diph.dwHow = DIPH_DEVICE;
    if (FAILED(device->GetProperty(DIPROP_GUIDANDPATH, &property.diph))) return false;
    property.wszPath[MAX_PATH - 1] = 0;
    std::memcpy(path, property.wszPath, sizeof property.wszPath);
    return path[0] != 0;
  }

  void ForEachHidInterface(HidInterfaceVisitor& visitor) override {
    GUID hid_class;
    HidD_GetHidGuid(&hid_class);
    DeviceInfoSet set(SetupDiGetClassDevsW(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (set.get() == INVALID_HANDLE_VALUE) return;
    SP_DEVICE_INTERFACE_DATA interface_data;
    interface_data.cbSize = sizeof interface_data;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hid_class, index, &interface_data);
         ++index) {
      alignas(8) unsigned char detail_buffer[512];
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail_buffer);
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      SP_DEVINFO_DATA info;
      info.cbSize = sizeof info;
      if (!SetupDiGetDeviceInterfaceDetailW(set.get(), &interface_data, detail, sizeof detail_buffer, nullptr, &info)) {
        continue;
      }
      wchar_t instance_id[kHidStringUnits];
      if (!SetupDiGetDeviceInstanceIdW(set.get(), &info, instance_id, kHidStringUnits, nullptr)) continue;
      visitor.Visit(reinterpret_cast<const char16_t*>(instance_id), wcslen(instance_id),
                    reinterpret_cast<const char16_t*>(detail->DevicePath));
    }
  }

  HidStrings ReadStrings(const char16_t* interface_path) override {
    HidStrings strings;
    // Share read and write: a simulator or a service may hold the interface open for writing meanwhile.
    FileHandle file(CreateFileW(reinterpret_cast<const wchar_t*>(interface_path), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return strings;
    strings.opened = true;
    strings.product_read = HidD_GetProductString(file.get(), strings.product, sizeof strings.product) != FALSE;
    strings.serial_read = HidD_GetSerialNumberString(file.get(), strings.serial, sizeof strings.serial) != FALSE;
    return strings;
  }

 private:
  // Written by Start and Stop, which the device manager calls holding the DirectInput lock (and its
  // open-count lock); read under the DirectInput lock.
  IDirectInput8W* direct_input_ = nullptr;
};

}  // namespace

IdentitySource& PlatformIdentitySource() {
  static DirectInputSource source;
  return source;
}

}  // namespace vexlan

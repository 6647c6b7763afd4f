#include <windows.h>

#include "directoutput/library_loader.h"

namespace vexlan::directoutput {
namespace {

constexpr DWORD kPathBytes = 4096;

// Closes the key on every path out of the read.
class RegistryKey {
 public:
  RegistryKey(HKEY parent, const wchar_t* subkey) {
    if (RegOpenKeyExW(parent, subkey, 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

void* OpenDirectOutputLibrary() {
  // One unit more than the registry may fill, so that data using all 4096 bytes without a terminating
  // zero is still terminated and never read past.
  wchar_t path[kPathBytes / sizeof(wchar_t) + 1] = {};
  {
    RegistryKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlan\\DirectOutput");
    if (key.get() == nullptr) return nullptr;
    DWORD size = kPathBytes;
    if (RegQueryValueExW(key.get(), L"DirectOutput", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) !=
        ERROR_SUCCESS) {
      return nullptr;
    }
  }
  return LoadLibraryW(path);
}

void* FindEntryPoint(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace vexlan::directoutput

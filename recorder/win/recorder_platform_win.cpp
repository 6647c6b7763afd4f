#include <windows.h>

#include <cstdio>

#include "recorder/recorder_platform.h"

namespace vexlan::recorder {
namespace {

constexpr DWORD kValueBytes = 4096;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return L"";
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(units > 0 ? units : 0, L'\0');
  if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), units);
  return out;
}

std::string Narrow(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return "";
  std::string out(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.pop_back();  // the terminating zero
  return out;
}

std::string RegistryValue(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlan\\DirectOutput", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "";
  // One unit more than the value may fill, so that it is always terminated.
  wchar_t value[kValueBytes / sizeof(wchar_t) + 1] = {};
  DWORD size = kValueBytes;
  DWORD type = 0;
  const LSTATUS status =
      RegQueryValueExW(key, Widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? Narrow(value) : "";
}

}  // namespace

std::string ReadSetting(const char* variable, const char* registry_value) {
  wchar_t value[kValueBytes / sizeof(wchar_t)] = {};
  const DWORD units = GetEnvironmentVariableW(Widen(variable).c_str(), value, kValueBytes / sizeof(wchar_t));
  if (units > 0 && units < kValueBytes / sizeof(wchar_t)) return Narrow(value);
  return *registry_value != '\0' ? RegistryValue(registry_value) : "";
}

void* OpenRealLibrary(const std::string& path) {
  return path.empty() ? nullptr : static_cast<void*>(LoadLibraryW(Widen(path).c_str()));
}

std::FILE* CreateTraceFile(const std::string& path) { return _wfopen(Widen(path).c_str(), L"wb"); }

}  // namespace vexlan::recorder

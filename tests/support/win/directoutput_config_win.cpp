#include <windows.h>

#include <vector>

#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"

namespace vexlan::test {
namespace {

constexpr wchar_t kKey[] = L"SOFTWARE\\Vexlan\\DirectOutput";

std::wstring Widen(const std::string& text) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(units > 0 ? units - 1 : 0), L'\0');
  if (units > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), units);
  return wide;
}

void WriteValue(const void* data, DWORD bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, L"DirectOutput", 0, REG_SZ, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(key);
}

}  // namespace

std::string SimulatorPath() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&vexlan::sim::Flush), &module);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  char utf8[MAX_PATH * 4] = {};
  WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}

void ConfigureDirectOutput(const std::string& path) {
  const std::wstring wide = Widen(path);
  WriteValue(wide.c_str(), static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

void ConfigureDirectOutputRaw(const std::u16string& data) {
  WriteValue(data.data(), static_cast<DWORD>(data.size() * sizeof(char16_t)));
}

void RemoveDirectOutputConfiguration() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey); }

}  // namespace vexlan::test

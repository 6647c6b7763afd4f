#include <windows.h>

#include <cstdlib>

#include "platform/text_conversion.h"

namespace vexlan::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

size_t MultiByteToWide(const char* source, char16_t* target, size_t capacity) {
  size_t count = 0;
  mbstowcs_s(&count, reinterpret_cast<wchar_t*>(target), capacity, source, _TRUNCATE);
  return count;
}

AnsiConversion WideToAnsi(const char16_t* source, int units, char* target, int target_size, int* size) {
  const int written = WideCharToMultiByte(CP_THREAD_ACP, 0, reinterpret_cast<const wchar_t*>(source), units, target,
                                          target == nullptr ? 0 : target_size, nullptr, nullptr);
  if (written > 0) {
    *size = written;
    return AnsiConversion::kOk;
  }
  return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? AnsiConversion::kInsufficientBuffer : AnsiConversion::kFailed;
}

}  // namespace vexlan::platform

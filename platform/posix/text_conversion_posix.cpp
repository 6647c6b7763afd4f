#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/text_conversion.h"

namespace vexlan::platform {

size_t MultiByteToWide(const char* source, char16_t* target, size_t capacity) {
  if (capacity == 0) return 0;
  std::mbstate_t state{};
  size_t stored = 0;
  const char* at = source;
  size_t left = std::strlen(source);
  while (left > 0) {
    wchar_t wide = 0;
    size_t used = std::mbrtowc(&wide, at, left, &state);
    char32_t code;
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      if (MB_CUR_MAX != 1) {  // a real multibyte locale refuses the text: nothing is stored
        target[0] = 0;
        return 0;
      }
      // The C locale: every byte stands for the code unit of the same value, as on Windows.
      code = static_cast<unsigned char>(*at);
      used = 1;
      state = std::mbstate_t{};
    } else {
      code = static_cast<char32_t>(wide);
    }
    const size_t need = code > 0xFFFF ? 2 : 1;
    if (stored + need > capacity - 1) break;  // cut short, as _TRUNCATE does
    if (need == 2) {
      code -= 0x10000;
      target[stored++] = static_cast<char16_t>(0xD800 + (code >> 10));
      target[stored++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      target[stored++] = static_cast<char16_t>(code);
    }
    at += used;
    left -= used;
  }
  target[stored++] = 0;
  return stored;
}

AnsiConversion WideToAnsi(const char16_t* source, int units, char* target, int target_size, int* size) {
  char scratch[MB_LEN_MAX];
  std::mbstate_t state{};
  int written = 0;
  for (int i = 0; i < units; ++i) {
    char32_t code = source[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units && source[i + 1] >= 0xDC00 && source[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (source[i + 1] - 0xDC00);
      ++i;
    }
    size_t length = std::wcrtomb(scratch, static_cast<wchar_t>(code), &state);
    if (length == static_cast<size_t>(-1)) {
      scratch[0] = '?';
      length = 1;
      state = std::mbstate_t{};
    }
    if (target != nullptr) {
      if (written + static_cast<int>(length) > target_size) return AnsiConversion::kInsufficientBuffer;
      std::memcpy(target + written, scratch, length);
    }
    written += static_cast<int>(length);
  }
  *size = written;
  return AnsiConversion::kOk;
}

}  // namespace vexlan::platform

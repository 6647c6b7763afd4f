#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/text_conversion.h"
#include "platform/utf16.h"

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

namespace {

// Encodes `units` UTF-16 units in the current locale, handing each piece to `sink`. A code point the
// locale cannot represent gives `fallback(code)` instead.
template <typename Sink, typename Fallback>
void EncodeInLocale(const char16_t* source, size_t units, Sink&& sink, Fallback&& fallback) {
  char scratch[MB_LEN_MAX];
  std::mbstate_t state{};
  for (size_t at = 0; at < units;) {
    const char32_t code = NextCodePoint(source, units, &at);
    const size_t length = std::wcrtomb(scratch, static_cast<wchar_t>(code), &state);
    if (length == static_cast<size_t>(-1)) {
      state = std::mbstate_t{};
      const char replacement = fallback(code);
      sink(&replacement, 1);
    } else {
      sink(scratch, length);
    }
  }
}

}  // namespace

AnsiConversion WideToAnsi(const char16_t* source, int units, char* target, int target_size, int* size) {
  int written = 0;
  bool fits = true;
  EncodeInLocale(
      source, static_cast<size_t>(units),
      [&](const char* bytes, size_t length) {
        if (target != nullptr) {
          if (!fits || written + static_cast<int>(length) > target_size) {
            fits = false;
            return;
          }
          std::memcpy(target + written, bytes, length);
        }
        written += static_cast<int>(length);
      },
      [](char32_t) { return '?'; });
  if (!fits) return AnsiConversion::kInsufficientBuffer;
  *size = written;
  return AnsiConversion::kOk;
}

std::string NarrowFileName(const char16_t* name) {
  std::string out;
  size_t units = 0;
  while (name[units] != 0) ++units;
  EncodeInLocale(
      name, units, [&out](const char* bytes, size_t length) { out.append(bytes, length); },
      // The C locale's byte-for-unit rule, reversed: the bytes a script passed are the bytes opened.
      [](char32_t code) { return static_cast<char>(code & 0xFF); });
  return out;
}

}  // namespace vexlan::platform

// Reading UTF-16 text one code point at a time, and writing code points as UTF-8. Header-only, so the
// simulated library shares it with the module.
#pragma once

#include <cstddef>
#include <string>

namespace vexlan::platform {

// The code point at text[*at], *at moved past it: a surrogate pair is joined; a lone surrogate comes
// back as it is, for the caller to decide on.
inline char32_t NextCodePoint(const char16_t* text, size_t units, size_t* at) {
  char32_t code = text[(*at)++];
  if (code >= 0xD800 && code < 0xDC00 && *at < units && text[*at] >= 0xDC00 && text[*at] < 0xE000)
    code = 0x10000 + ((code - 0xD800) << 10) + (text[(*at)++] - 0xDC00);
  return code;
}

inline bool IsSurrogate(char32_t code) { return code >= 0xD800 && code < 0xE000; }

inline void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace vexlan::platform

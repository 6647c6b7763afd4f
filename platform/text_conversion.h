// Conversions between the host's multibyte text and the UTF-16 text that DirectOutput and the
// identity lookup deal in. Both follow the C library's current locale, which the module never sets.
#pragma once

#include <cstddef>
#include <string>

namespace vexlan::platform {

// Converts the zero-terminated multibyte `source` into `target`, which holds `capacity` UTF-16 units,
// cutting an over-long result short (the run-time library's mbstowcs_s with _TRUNCATE on Windows).
// Returns the number of units stored, terminating zero included, or 0 when nothing was stored; target
// is always zero-terminated when capacity > 0. In the default C locale each byte becomes the code unit
// of the same value.
// Windows: mbstowcs_s. POSIX: mbrtowc, with the C locale's byte-for-unit rule for bytes it refuses.
size_t MultiByteToWide(const char* source, char16_t* target, size_t capacity);

enum class AnsiConversion { kOk, kInsufficientBuffer, kFailed };

// Converts `units` UTF-16 units (terminator included) to the calling thread's ANSI code page.
// With target == nullptr, stores in *size the number of bytes needed. Otherwise converts into target
// (target_size bytes) and stores the bytes written in *size.
// Windows: WideCharToMultiByte(CP_THREAD_ACP). POSIX: wcrtomb in the current locale, '?' for what it
// cannot represent.
AnsiConversion WideToAnsi(const char16_t* source, int units, char* target, int target_size, int* size);

// POSIX only (Windows opens files by their wide names): a zero-terminated file name back in the host's
// multibyte form, the inverse of MultiByteToWide, so that the bytes a script passed are the bytes
// opened, in the C locale too.
std::string NarrowFileName(const char16_t* name);

}  // namespace vexlan::platform

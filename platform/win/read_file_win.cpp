#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/read_file.h"
#include "platform/text_conversion.h"
#include "platform/win/read_file_win.h"

namespace vexlan::platform {

std::optional<size_t> ReadRegularFile(const char16_t* name, size_t limit, const std::function<uint8_t*(size_t)>& place) {
  HANDLE file = CreateFileW(reinterpret_cast<const WCHAR*>(name), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  LARGE_INTEGER size;
  bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
            static_cast<uint64_t>(size.QuadPart) <= limit;
  const size_t expected = ok ? static_cast<size_t>(size.QuadPart) : 0;
  uint8_t* bytes = ok ? place(expected) : nullptr;
  ok = ok && bytes != nullptr;
  size_t got = 0;
  while (ok && got < expected) {
    DWORD read_now = 0;
    const DWORD ask = static_cast<DWORD>(std::min<size_t>(expected - got, 1u << 24));
    ok = ReadFile(file, bytes + got, ask, &read_now, nullptr) != 0;
    if (ok && read_now == 0) break;
    got += read_now;
  }
  CloseHandle(file);
  return ok ? std::optional<size_t>(got) : std::nullopt;
}

bool ReadFileBytes(const char* name, size_t limit, std::vector<uint8_t>* bytes) {
  std::u16string wide(MAX_PATH * 8, u'\0');
  if (MultiByteToWide(name, wide.data(), wide.size()) == 0) return false;
  const std::optional<size_t> got = ReadRegularFile(wide.c_str(), limit, [bytes](size_t size) {
    bytes->resize(std::max<size_t>(size, 1));  // a block even for an empty file
    return bytes->data();
  });
  if (got) bytes->resize(*got);
  return got.has_value();
}

}  // namespace vexlan::platform

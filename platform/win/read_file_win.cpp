#include <windows.h>

#include <string>

#include "platform/read_file.h"
#include "platform/text_conversion.h"

namespace vexlan::platform {

bool ReadFileBytes(const char* name, size_t limit, std::vector<uint8_t>* bytes) {
  std::u16string wide(MAX_PATH * 8, u'\0');
  if (MultiByteToWide(name, wide.data(), wide.size()) == 0) return false;
  HANDLE file = CreateFileW(reinterpret_cast<const WCHAR*>(wide.c_str()), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
            static_cast<uint64_t>(size.QuadPart) <= limit;
  if (ok) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    size_t got = 0;
    while (ok && got < bytes->size()) {
      DWORD read_now = 0;
      const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes->size() - got, 1u << 30));
      ok = ReadFile(file, bytes->data() + got, ask, &read_now, nullptr) != 0;
      if (ok && read_now == 0) break;
      got += read_now;
    }
    bytes->resize(got);
  }
  CloseHandle(file);
  return ok;
}

}  // namespace vexlan::platform

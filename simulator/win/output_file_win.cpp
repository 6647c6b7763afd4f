#include <windows.h>

#include <string>

#include "simulator/output_file.h"

namespace vexlan::sim {

std::filesystem::path EnvironmentPath(const char* name) {
  const std::wstring wide_name(name, name + std::char_traits<char>::length(name));  // names are ASCII
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return {};
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // the size it needs, with its terminating zero
  }
}

std::FILE* OpenForWriting(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"wb"); }

}  // namespace vexlan::sim

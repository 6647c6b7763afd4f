#include <windows.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "directoutput/library_check.h"
#include "directoutput/library_loader.h"

namespace vexlan::directoutput {
namespace {

constexpr DWORD kPathBytes = 4096;
constexpr wchar_t kKey[] = L"SOFTWARE\\Vexlan\\DirectOutput";
constexpr wchar_t kValue[] = L"DirectOutput";
constexpr char kKeyName[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexlan\\DirectOutput";

// Closes the key on every path out of the read.
class RegistryKey {
 public:
  RegistryKey(HKEY parent, const wchar_t* subkey, REGSAM view = 0) {
    if (RegOpenKeyExW(parent, subkey, 0, KEY_READ | view, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

class FileHandle {
 public:
  explicit FileHandle(const wchar_t* path)
      : handle_(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::string Utf8(const wchar_t* text, int length = -1) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
  if (length < 0) out.pop_back();  // the terminating zero
  return out;
}

std::string ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? Utf8(buffer, static_cast<int>(length)) : "";
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  if (text.empty()) text = "no text for this error";
  return text + " (error " + std::to_string(error) + ")";
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_DWORD: return "REG_DWORD";
    case REG_QWORD: return "REG_QWORD";
    case REG_BINARY: return "REG_BINARY";
    default: return "another type";
  }
}

constexpr char kSetItUp[] =
    "; for the simulator run use-simulator.cmd as administrator, for the hardware see INSTALL.md, step 2";

void Add(std::vector<CheckLine>* lines, const char* step, Verdict verdict, std::string text) {
  lines->push_back(CheckLine{step, verdict, std::move(text)});
}

// The value's text as the loader reads it, or empty with a line saying why.
std::wstring CheckRegistry(std::vector<CheckLine>* lines) {
  RegistryKey key(HKEY_LOCAL_MACHINE, kKey);
  if (key.get() == nullptr) {
    RegistryKey other_view(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY);
    if (other_view.get() != nullptr)
      Add(lines, "registry", Verdict::kFail,
          std::string(kKeyName) + " exists only in the 32-bit view of the registry (WOW6432Node), where a 32-bit "
          "program or prompt wrote it; vexlan is 64-bit and reads the 64-bit view: run use-simulator.cmd again, or "
          "add /reg:64 to your reg add command");
    else
      Add(lines, "registry", Verdict::kFail, std::string("there is no key ") + kKeyName +
          ", so nothing names the DirectOutput library" + kSetItUp);
    return {};
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), kValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    DWORD default_size = 0;
    const bool has_default = RegQueryValueExW(key.get(), L"", nullptr, nullptr, nullptr, &default_size) == ERROR_SUCCESS;
    Add(lines, "registry", Verdict::kFail,
        std::string("the key ") + kKeyName + " has no value named DirectOutput" +
            (has_default ? " (its (Default) value is set, but vexlan reads the value named DirectOutput)" : "") +
            kSetItUp);
    return {};
  }
  const std::string described = std::string(kKeyName) + ", value DirectOutput (" + TypeName(type) + ", " +
                                std::to_string(size) + " bytes)";
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    Add(lines, "registry", Verdict::kFail, described + ": vexlan reads it as text, so it must be REG_SZ, the full path of the DLL");
    return {};
  }
  if (size > kPathBytes) {
    Add(lines, "registry", Verdict::kFail, described + ": longer than the 4096 bytes vexlan reads, so it reads none");
    return {};
  }
  wchar_t path[kPathBytes / sizeof(wchar_t) + 1] = {};
  DWORD read = kPathBytes;
  RegQueryValueExW(key.get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &read);
  const std::wstring text = path;
  if (text.empty()) {
    Add(lines, "registry", Verdict::kFail, described + ": empty" + kSetItUp);
    return {};
  }
  if (type == REG_EXPAND_SZ && text.find(L'%') != std::wstring::npos) {
    Add(lines, "registry", Verdict::kFail, described + ": \"" + Utf8(path) +
        "\" is REG_EXPAND_SZ with %...% in it, which vexlan passes on unexpanded: write the full path as REG_SZ "
        "(reg add ... /t REG_SZ)");
    return {};
  }
  Add(lines, "registry", Verdict::kOk, described + ": " + Utf8(path));
  return text;
}

// False with a line saying why when the file cannot be a 64-bit DLL.
bool CheckFile(const std::wstring& path, std::vector<CheckLine>* lines) {
  const std::string shown = Utf8(path.c_str());
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Add(lines, "file", Verdict::kFail, "there is no file " + shown + " (" + ErrorText(GetLastError()) +
        "): the registry names a file that is not there; register the DLL where it is now");
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    Add(lines, "file", Verdict::kFail, shown + " is a folder: the registry must name the DLL itself, a file ending in .dll");
    return false;
  }
  FileHandle file(path.c_str());
  unsigned char header[4096] = {};
  DWORD got = 0;
  if (file.get() == INVALID_HANDLE_VALUE || !::ReadFile(file.get(), header, sizeof header, &got, nullptr)) {
    Add(lines, "file", Verdict::kFail, shown + " cannot be read: " + ErrorText(GetLastError()));
    return false;
  }
  // Little-endian fields of the header; callers keep `at` within what was read.
  const auto word = [&](DWORD at) { return header[at] | header[at + 1] << 8; };
  const auto dword = [&](DWORD at) { return static_cast<DWORD>(word(at)) | static_cast<DWORD>(word(at + 2)) << 16; };
  const DWORD pe = dword(0x3C);  // where the PE header starts; it must lie within what was read
  if (got < 64 || word(0) != 0x5A4D || pe > got || got - pe < 24 || dword(pe) != 0x00004550) {
    std::string start;
    for (DWORD i = 0; i < got && start.size() < 16; ++i) start.push_back(header[i] >= 32 && header[i] < 127 ? static_cast<char>(header[i]) : '.');
    Add(lines, "file", Verdict::kFail, shown + " is not a DLL (it starts with \"" + start +
        "\"): the registry must name DirectOutput.dll, or vexlan_sim.dll for the simulator");
    return false;
  }
  const int machine = word(pe + 4);
  const int characteristics = word(pe + 22);
  if (machine == IMAGE_FILE_MACHINE_I386) {
    Add(lines, "file", Verdict::kFail, shown + " is a 32-bit DLL: vexlan is 64-bit and can only load the 64-bit library");
    return false;
  }
  if (machine != IMAGE_FILE_MACHINE_AMD64) {
    Add(lines, "file", Verdict::kFail, shown + " is made for another processor (machine 0x" +
        [&] { char hex[8]; std::snprintf(hex, sizeof hex, "%04X", machine); return std::string(hex); }() + "), not x64");
    return false;
  }
  if (!(characteristics & IMAGE_FILE_DLL)) {
    Add(lines, "file", Verdict::kFail, shown + " is a program, not a DLL: the registry must name the library");
    return false;
  }
  LARGE_INTEGER bytes{};
  GetFileSizeEx(file.get(), &bytes);
  Add(lines, "file", Verdict::kOk, "a 64-bit DLL of " + std::to_string(bytes.QuadPart) + " bytes");
  return true;
}

// The module's own handle, from the address of one of its functions.
HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

std::wstring ModulePath(HMODULE module) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

bool IsCRuntime(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name.rfind("msvcr", 0) == 0 || name == "ucrtbase.dll" || name.rfind("api-ms-win-crt-", 0) == 0;
}

// The C run-time DLL that a loaded module imports, from its import table; empty when none.
std::string CRuntimeOf(HMODULE module) {
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return {};
  for (const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    std::string name = reinterpret_cast<const char*>(base + entry->Name);
    if (IsCRuntime(name)) {
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return name.rfind("api-ms-win-crt-", 0) == 0 ? "ucrtbase.dll" : name;
    }
  }
  return {};
}

}  // namespace

void* OpenDirectOutputLibrary() {
  // One unit more than the registry may fill, so that data using all 4096 bytes without a terminating
  // zero is still terminated and never read past.
  wchar_t path[kPathBytes / sizeof(wchar_t) + 1] = {};
  {
    RegistryKey key(HKEY_LOCAL_MACHINE, kKey);
    if (key.get() == nullptr) return nullptr;
    DWORD size = kPathBytes;
    if (RegQueryValueExW(key.get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) != ERROR_SUCCESS)
      return nullptr;
  }
  return LoadLibraryW(path);
}

void* FindEntryPoint(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

const char kSettingName[] = "the registry value DirectOutput under HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexlan\\DirectOutput";

std::string LibraryFile(void* library) {
  return library != nullptr ? Utf8(ModulePath(static_cast<HMODULE>(library)).c_str()) : std::string();
}

std::string LibraryFileOfAddress(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(address), &module);
  return LibraryFile(module);
}

void* CheckConfiguredLibrary(std::vector<CheckLine>* lines) {
  const std::wstring path = CheckRegistry(lines);
  if (path.empty() || !CheckFile(path, lines)) return nullptr;
  HMODULE library = LoadLibraryW(path.c_str());
  if (library == nullptr) {
    Add(lines, "load", Verdict::kFail, "Windows cannot load it: " + ErrorText(GetLastError()));
    return nullptr;
  }
  Add(lines, "load", Verdict::kOk, "loaded " + Utf8(ModulePath(library).c_str()));
  return library;
}

void CheckLuaHost(std::vector<CheckLine>* lines) {
  HMODULE lua = GetModuleHandleW(L"lua51.dll");
  const std::string own = CRuntimeOf(ThisModule());
  const std::string host = lua != nullptr ? CRuntimeOf(lua) : "";
  std::string text = Utf8(ModulePath(nullptr).c_str()) + ", its Lua in " +
                     (lua != nullptr ? Utf8(ModulePath(lua).c_str()) : std::string("(lua51.dll not found)")) +
                     ", on the C run-time " + (host.empty() ? std::string("(none found)") : host);
  if (host == own) {
    Add(lines, "host", Verdict::kOk, text + ", the same as vexlan's");
    return;
  }
  Add(lines, "host", Verdict::kNote, text + "; vexlan uses " + own + ", so the two have a standard input and a "
      "locale each. vexlan.Listen reads " + own + "'s standard input, ahead of the host's io.read, which then "
      "misses what Listen's read took in; the host's os.setlocale does not reach vexlan, whose text conversion "
      "stays in the C locale: send text as Latin-1 bytes (\"caf\\233\"), not UTF-8 (see docs/reference.md, "
      "\"Text and locales\")");
}

}  // namespace vexlan::directoutput

#include "devices/hardware_identity.h"

#include <cstdlib>
#include <cstring>

#include "platform/text_conversion.h"

namespace vexlan {
namespace {

size_t WideLength(const char16_t* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Case-sensitive search of `needle` in `haystack`, both zero-terminated (wcsstr).
bool Contains(const char16_t* haystack, const char16_t* needle) {
  const size_t n = WideLength(needle);
  for (const char16_t* at = haystack;; ++at) {
    size_t i = 0;
    while (i < n && at[i] == needle[i]) ++i;
    if (i == n) return true;
    if (*at == 0) return false;
  }
}

// Copies at most N - 1 characters of `text` into `field`, terminated.
template <size_t N>
void CopyCut(char (&field)[N], const char* text) {
  std::strncpy(field, text == nullptr ? "" : text, N - 1);
  field[N - 1] = '\0';
}

// A HID string as read: up to its terminator or the end of the 64-unit buffer, converted and cut.
template <size_t N>
void StoreHidString(char (&field)[N], const char16_t (&read)[kHidStringUnits]) {
  char16_t terminated[kHidStringUnits + 1];
  std::memcpy(terminated, read, sizeof read);
  terminated[kHidStringUnits] = 0;
  CopyCut(field, AnsiString(terminated).c_str());
}

class MatchingVisitor final : public HidInterfaceVisitor {
 public:
  MatchingVisitor(IdentitySource& source, const char16_t* path, HardwareIdentity* identity)
      : source_(source), path_(path), identity_(identity) {}

  void Visit(const char16_t* instance_id, size_t length, const char16_t* interface_path) override {
    // An id that does not fit the 64-unit buffer is skipped, as the failed read of it would be.
    if (length >= kHidStringUnits) return;
    char16_t id[kHidStringUnits];
    std::memcpy(id, instance_id, length * sizeof(char16_t));
    id[length] = 0;
    for (size_t i = 0; i < length; ++i)
      if (id[i] >= u'A' && id[i] <= u'Z') id[i] = static_cast<char16_t>(id[i] + (u'a' - u'A'));
    if (!Contains(path_, id)) return;

    CopyCut(identity_->instance_id, AnsiString(id).c_str());
    const HidStrings strings = source_.ReadStrings(interface_path);
    if (!strings.opened) return;
    if (strings.product_read) StoreHidString(identity_->product, strings.product);
    if (strings.serial_read) StoreHidString(identity_->serial, strings.serial);
    // No early exit: a later matching interface overwrites whatever it can read.
  }

 private:
  IdentitySource& source_;
  const char16_t* path_;
  HardwareIdentity* identity_;
};

}  // namespace

void LookUpHardwareIdentity(IdentitySource& source, platform::Mutex& direct_input_lock, const Guid& instance,
                            HardwareIdentity* identity) {
  std::memset(identity, 0, sizeof *identity);
  char16_t path[kDevicePathUnits + 1] = {};
  if (!source.DevicePath(instance, direct_input_lock, path)) return;
  path[kDevicePathUnits] = 0;
  if (path[0] == 0) return;  // an empty path matches no interface
  // DirectInput writes the instance id's separators as '#'; SetupAPI writes them as '\'.
  for (char16_t* c = path; *c != 0; ++c)
    if (*c == u'#') *c = u'\\';
  MatchingVisitor visitor(source, path, identity);
  source.ForEachHidInterface(visitor);
}

AnsiString::AnsiString(const char16_t* wide) {
  if (wide == nullptr) return;
  const int units = static_cast<int>(WideLength(wide)) + 1;
  int written = 0;
  platform::AnsiConversion outcome = platform::AnsiConversion::kFailed;
  if (Provide(4 * static_cast<size_t>(units))) {
    outcome = platform::WideToAnsi(wide, units, storage(), static_cast<int>(storage_size_), &written);
    if (outcome == platform::AnsiConversion::kInsufficientBuffer) {
      int needed = 0;
      outcome = platform::WideToAnsi(wide, units, nullptr, 0, &needed);
      if (outcome == platform::AnsiConversion::kOk && Provide(static_cast<size_t>(needed)))
        outcome = platform::WideToAnsi(wide, units, storage(), static_cast<int>(storage_size_), &written);
      else
        outcome = platform::AnsiConversion::kFailed;
    }
  }
  if (outcome != platform::AnsiConversion::kOk || written <= 0) {
    // Any other failure, or no memory: an empty string, never an end to the host process.
    inline_[0] = '\0';
    result_ = inline_;
    return;
  }
  char* text = storage();
  text[static_cast<size_t>(written) < storage_size_ ? written : storage_size_ - 1] = '\0';
  result_ = text;
}

AnsiString::~AnsiString() { std::free(heap_); }

bool AnsiString::Provide(size_t size) {
  if (size <= sizeof inline_) {
    std::free(heap_);
    heap_ = nullptr;
    storage_size_ = sizeof inline_;
    return true;
  }
  char* block = static_cast<char*>(heap_ == nullptr ? std::calloc(size, 1) : std::realloc(heap_, size));
  if (block == nullptr) return false;
  heap_ = block;
  storage_size_ = size;
  return true;
}

}  // namespace vexlan

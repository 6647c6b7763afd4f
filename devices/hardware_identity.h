// Finding a device's hardware identity (HID product string, lower-case instance id, serial number) from
// its DirectInput instance GUID, and the wide-to-ANSI conversion it uses.
#pragma once

#include <cstddef>

#include "devices/device_table.h"
#include "devices/identity_source.h"

namespace vexlan {

// Fills `identity`; every string is empty where nothing was found. Never fails outwardly.
void LookUpHardwareIdentity(IdentitySource& source, platform::Mutex& direct_input_lock, const Guid& instance,
                            HardwareIdentity* identity);

// A wide string converted to the thread's ANSI code page, owned by this object: a 128-byte inline buffer
// when four bytes per unit fit in it, else a zeroed heap block. A null input gives a null result; a
// conversion or allocation that fails gives an empty string.
class AnsiString {
 public:
  explicit AnsiString(const char16_t* wide);
  ~AnsiString();
  AnsiString(const AnsiString&) = delete;
  AnsiString& operator=(const AnsiString&) = delete;

  const char* c_str() const { return result_; }

 private:
  friend struct AnsiStringTesting;  // devices/hardware_identity_testing.h

  bool Provide(size_t size);
  char* storage() { return heap_ != nullptr ? heap_ : inline_; }

  char inline_[128];
  char* heap_ = nullptr;
  size_t storage_size_ = 0;
  const char* result_ = nullptr;
};

}  // namespace vexlan

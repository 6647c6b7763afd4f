// The run-time binding to the DirectOutput library: its 22 entry points, each resolved by name and
// answering E_NOTIMPL when the library or that entry point is missing.
#pragma once

#include <string>
#include <vector>

#include "directoutput/directoutput_api.h"

namespace vexlan {

// One entry point: its address as resolved by name (null when missing), called like the function itself,
// answering E_NOTIMPL when the address is null.
template <typename Signature>
class EntryPoint;

template <typename... Args>
class EntryPoint<HResult(Args...)> {
 public:
  using Function = HResult(Args...);

  HResult operator()(Args... arguments) const { return address_ != nullptr ? address_(arguments...) : kE_NOTIMPL; }
  void set_address(void* address) { address_ = reinterpret_cast<Function*>(address); }

 private:
  friend struct EntryPointTesting;  // directoutput/binding_testing.h
  Function* address_ = nullptr;
};

// AddPage is also called with a page name between page and flags, which is not passed on: the library's
// entry point takes none, and a script's AddPage gives none (the module passes null).
class AddPageEntryPoint : public EntryPoint<directoutput::AddPageFn> {
 public:
  using EntryPoint::operator();
  HResult operator()(void* device, uint32_t page, const WideChar* /*unused*/, uint32_t flags) const {
    return (*this)(device, page, flags);
  }
};

// The 22 entry points, in the library's table order, each exported as "DirectOutput_" + its name.
struct DirectOutputEntryPoints {
  EntryPoint<directoutput::InitializeFn> Initialize;
  EntryPoint<directoutput::DeinitializeFn> Deinitialize;
  EntryPoint<directoutput::RegisterDeviceCallbackFn> RegisterDeviceCallback;
  EntryPoint<directoutput::EnumerateFn> Enumerate;
  EntryPoint<directoutput::RegisterPageCallbackFn> RegisterPageCallback;
  EntryPoint<directoutput::RegisterSoftButtonCallbackFn> RegisterSoftButtonCallback;
  EntryPoint<directoutput::GetDeviceTypeFn> GetDeviceType;
  EntryPoint<directoutput::GetDeviceInstanceFn> GetDeviceInstance;
  EntryPoint<directoutput::SetProfileFn> SetProfile;
  AddPageEntryPoint AddPage;
  EntryPoint<directoutput::RemovePageFn> RemovePage;
  EntryPoint<directoutput::SetLedFn> SetLed;
  EntryPoint<directoutput::SetStringFn> SetString;
  EntryPoint<directoutput::SetImageFn> SetImage;
  EntryPoint<directoutput::SetImageFromFileFn> SetImageFromFile;
  EntryPoint<directoutput::StartServerFn> StartServer;
  EntryPoint<directoutput::CloseServerFn> CloseServer;
  EntryPoint<directoutput::SendServerMsgFn> SendServerMsg;
  EntryPoint<directoutput::SendServerFileFn> SendServerFile;
  EntryPoint<directoutput::SaveFileFn> SaveFile;
  EntryPoint<directoutput::DisplayFileFn> DisplayFile;
  EntryPoint<directoutput::DeleteFileFn> DeleteFile;
};

// Either empty (no library) or loaded; never changes after construction and keeps no other state, so any
// thread may call through it without a lock: `binding->SetLed(...)`. The library is never unloaded.
class DirectOutputBinding {
 public:
  DirectOutputBinding() = default;  // empty: every entry point answers E_NOTIMPL
  DirectOutputBinding(void* library, const DirectOutputEntryPoints& entry_points)
      : library_(library), entry_(entry_points) {}

  bool loaded() const { return library_ != nullptr; }
  void* library() const { return library_; }
  const DirectOutputEntryPoints* operator->() const { return &entry_; }

 private:
  void* library_ = nullptr;
  DirectOutputEntryPoints entry_{};
};

// Finds, loads and resolves the configured library. Never fails as a whole: what it cannot find stays
// null and answers E_NOTIMPL.
DirectOutputBinding LoadDirectOutput();
// The same for a library already loaded (null: empty).
DirectOutputBinding BindDirectOutput(void* library);

// The names of the 22 entry points that `library` does not export ("DirectOutput_SetLed", ...), in table
// order; all of them for a null library.
std::vector<std::string> MissingEntryPoints(void* library);

}  // namespace vexlan

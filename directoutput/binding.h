// The run-time binding to the DirectOutput library: its 22 entry points, each called through a wrapper
// that answers E_NOTIMPL when the library or that entry point is missing.
#pragma once

#include "directoutput/directoutput_api.h"

namespace vexlan {

// Addresses as resolved by name, in the library's table order; null when missing.
struct DirectOutputEntryPoints {
  directoutput::InitializeFn* Initialize = nullptr;
  directoutput::DeinitializeFn* Deinitialize = nullptr;
  directoutput::RegisterDeviceCallbackFn* RegisterDeviceCallback = nullptr;
  directoutput::EnumerateFn* Enumerate = nullptr;
  directoutput::RegisterPageCallbackFn* RegisterPageCallback = nullptr;
  directoutput::RegisterSoftButtonCallbackFn* RegisterSoftButtonCallback = nullptr;
  directoutput::GetDeviceTypeFn* GetDeviceType = nullptr;
  directoutput::GetDeviceInstanceFn* GetDeviceInstance = nullptr;
  directoutput::SetProfileFn* SetProfile = nullptr;
  directoutput::AddPageFn* AddPage = nullptr;
  directoutput::RemovePageFn* RemovePage = nullptr;
  directoutput::SetLedFn* SetLed = nullptr;
  directoutput::SetStringFn* SetString = nullptr;
  directoutput::SetImageFn* SetImage = nullptr;
  directoutput::SetImageFromFileFn* SetImageFromFile = nullptr;
  directoutput::StartServerFn* StartServer = nullptr;
  directoutput::CloseServerFn* CloseServer = nullptr;
  directoutput::SendServerMsgFn* SendServerMsg = nullptr;
  directoutput::SendServerFileFn* SendServerFile = nullptr;
  directoutput::SaveFileFn* SaveFile = nullptr;
  directoutput::DisplayFileFn* DisplayFile = nullptr;
  directoutput::DeleteFileFn* DeleteFile = nullptr;
};

// Either empty (no library) or loaded; never changes after construction and keeps no other state, so any
// thread may call through it without a lock. The library is never unloaded.
class DirectOutputBinding {
 public:
  DirectOutputBinding() = default;  // empty: every wrapper answers E_NOTIMPL
  DirectOutputBinding(void* library, const DirectOutputEntryPoints& entry_points)
      : library_(library), entry_(entry_points) {}

  bool loaded() const { return library_ != nullptr; }
  const DirectOutputEntryPoints& entry_points() const { return entry_; }

  HResult Initialize(const WideChar* plugin_name) const;
  HResult Deinitialize() const;
  HResult RegisterDeviceCallback(DeviceChangeHandlerFn handler, void* context) const;
  HResult Enumerate(EnumerateHandlerFn handler, void* context) const;
  HResult RegisterPageCallback(void* device, PageChangeHandlerFn handler, void* context) const;
  HResult RegisterSoftButtonCallback(void* device, SoftButtonHandlerFn handler, void* context) const;
  HResult GetDeviceType(void* device, Guid* type) const;
  HResult GetDeviceInstance(void* device, Guid* instance) const;
  HResult SetProfile(void* device, uint32_t length, const WideChar* path) const;
  // `unused` sits between page and flags and is not passed on; callers give 0.
  HResult AddPage(void* device, uint32_t page, const WideChar* unused, uint32_t flags) const;
  HResult RemovePage(void* device, uint32_t page) const;
  HResult SetLed(void* device, uint32_t page, uint32_t index, uint32_t value) const;
  HResult SetString(void* device, uint32_t page, uint32_t index, uint32_t length, const WideChar* text) const;
  HResult SetImage(void* device, uint32_t page, uint32_t index, uint32_t bytes, const void* data) const;
  HResult SetImageFromFile(void* device, uint32_t page, uint32_t index, uint32_t length, const WideChar* file) const;
  HResult StartServer(void* device, uint32_t a, void* b, void* c, void* d) const;
  HResult CloseServer(void* device, uint32_t a, void* b) const;
  HResult SendServerMsg(void* device, uint32_t a, uint32_t b, uint32_t c, uint32_t d, void* e, uint32_t f, void* g,
                        void* h) const;
  HResult SendServerFile(void* device, uint32_t a, uint32_t b, uint32_t c, uint32_t d, void* e, uint32_t f, void* g,
                         uint32_t h, void* i, void* j) const;
  HResult SaveFile(void* device, uint32_t a, uint32_t b, uint32_t c, void* d, void* e) const;
  HResult DisplayFile(void* device, uint32_t a, uint32_t b, uint32_t c, void* d) const;
  HResult DeleteFile(void* device, uint32_t a, uint32_t b, void* c) const;

 private:
  void* library_ = nullptr;
  DirectOutputEntryPoints entry_{};
};

// Finds, loads and resolves the configured library. Never fails as a whole: what it cannot find stays
// null and answers E_NOTIMPL.
DirectOutputBinding LoadDirectOutput();

}  // namespace vexlan

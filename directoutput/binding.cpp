#include "directoutput/binding.h"

#include "directoutput/library_loader.h"

namespace vexlan {
namespace {

template <typename Fn>
void Resolve(void* library, const char* name, Fn** slot) {
  *slot = reinterpret_cast<Fn*>(directoutput::FindEntryPoint(library, name));
}

}  // namespace

DirectOutputBinding LoadDirectOutput() {
  void* library = directoutput::OpenDirectOutputLibrary();
  if (library == nullptr) return DirectOutputBinding();
  DirectOutputEntryPoints e;
  Resolve(library, "DirectOutput_Initialize", &e.Initialize);
  Resolve(library, "DirectOutput_Deinitialize", &e.Deinitialize);
  Resolve(library, "DirectOutput_RegisterDeviceCallback", &e.RegisterDeviceCallback);
  Resolve(library, "DirectOutput_Enumerate", &e.Enumerate);
  Resolve(library, "DirectOutput_RegisterPageCallback", &e.RegisterPageCallback);
  Resolve(library, "DirectOutput_RegisterSoftButtonCallback", &e.RegisterSoftButtonCallback);
  Resolve(library, "DirectOutput_GetDeviceType", &e.GetDeviceType);
  Resolve(library, "DirectOutput_GetDeviceInstance", &e.GetDeviceInstance);
  Resolve(library, "DirectOutput_SetProfile", &e.SetProfile);
  Resolve(library, "DirectOutput_AddPage", &e.AddPage);
  Resolve(library, "DirectOutput_RemovePage", &e.RemovePage);
  Resolve(library, "DirectOutput_SetLed", &e.SetLed);
  Resolve(library, "DirectOutput_SetString", &e.SetString);
  Resolve(library, "DirectOutput_SetImage", &e.SetImage);
  Resolve(library, "DirectOutput_SetImageFromFile", &e.SetImageFromFile);
  Resolve(library, "DirectOutput_StartServer", &e.StartServer);
  Resolve(library, "DirectOutput_CloseServer", &e.CloseServer);
  Resolve(library, "DirectOutput_SendServerMsg", &e.SendServerMsg);
  Resolve(library, "DirectOutput_SendServerFile", &e.SendServerFile);
  Resolve(library, "DirectOutput_SaveFile", &e.SaveFile);
  Resolve(library, "DirectOutput_DisplayFile", &e.DisplayFile);
  Resolve(library, "DirectOutput_DeleteFile", &e.DeleteFile);
  return DirectOutputBinding(library, e);
}

HResult DirectOutputBinding::Initialize(const WideChar* plugin_name) const {
  return entry_.Initialize ? entry_.Initialize(plugin_name) : kE_NOTIMPL;
}
HResult DirectOutputBinding::Deinitialize() const { return entry_.Deinitialize ? entry_.Deinitialize() : kE_NOTIMPL; }
HResult DirectOutputBinding::RegisterDeviceCallback(DeviceChangeHandlerFn handler, void* context) const {
  return entry_.RegisterDeviceCallback ? entry_.RegisterDeviceCallback(handler, context) : kE_NOTIMPL;
}
HResult DirectOutputBinding::Enumerate(EnumerateHandlerFn handler, void* context) const {
  return entry_.Enumerate ? entry_.Enumerate(handler, context) : kE_NOTIMPL;
}
HResult DirectOutputBinding::RegisterPageCallback(void* device, PageChangeHandlerFn handler, void* context) const {
  return entry_.RegisterPageCallback ? entry_.RegisterPageCallback(device, handler, context) : kE_NOTIMPL;
}
HResult DirectOutputBinding::RegisterSoftButtonCallback(void* device, SoftButtonHandlerFn handler,
                                                        void* context) const {
  return entry_.RegisterSoftButtonCallback ? entry_.RegisterSoftButtonCallback(device, handler, context) : kE_NOTIMPL;
}
HResult DirectOutputBinding::GetDeviceType(void* device, Guid* type) const {
  return entry_.GetDeviceType ? entry_.GetDeviceType(device, type) : kE_NOTIMPL;
}
HResult DirectOutputBinding::GetDeviceInstance(void* device, Guid* instance) const {
  return entry_.GetDeviceInstance ? entry_.GetDeviceInstance(device, instance) : kE_NOTIMPL;
}
HResult DirectOutputBinding::SetProfile(void* device, uint32_t length, const WideChar* path) const {
  return entry_.SetProfile ? entry_.SetProfile(device, length, path) : kE_NOTIMPL;
}
HResult DirectOutputBinding::AddPage(void* device, uint32_t page, const WideChar* /*unused*/, uint32_t flags) const {
  return entry_.AddPage ? entry_.AddPage(device, page, flags) : kE_NOTIMPL;
}
HResult DirectOutputBinding::RemovePage(void* device, uint32_t page) const {
  return entry_.RemovePage ? entry_.RemovePage(device, page) : kE_NOTIMPL;
}
HResult DirectOutputBinding::SetLed(void* device, uint32_t page, uint32_t index, uint32_t value) const {
  return entry_.SetLed ? entry_.SetLed(device, page, index, value) : kE_NOTIMPL;
}
HResult DirectOutputBinding::SetString(void* device, uint32_t page, uint32_t index, uint32_t length,
                                       const WideChar* text) const {
  return entry_.SetString ? entry_.SetString(device, page, index, length, text) : kE_NOTIMPL;
}
HResult DirectOutputBinding::SetImage(void* device, uint32_t page, uint32_t index, uint32_t bytes,
                                      const void* data) const {
  return entry_.SetImage ? entry_.SetImage(device, page, index, bytes, data) : kE_NOTIMPL;
}
HResult DirectOutputBinding::SetImageFromFile(void* device, uint32_t page, uint32_t index, uint32_t length,
                                              const WideChar* file) const {
  return entry_.SetImageFromFile ? entry_.SetImageFromFile(device, page, index, length, file) : kE_NOTIMPL;
}
HResult DirectOutputBinding::StartServer(void* device, uint32_t a, void* b, void* c, void* d) const {
  return entry_.StartServer ? entry_.StartServer(device, a, b, c, d) : kE_NOTIMPL;
}
HResult DirectOutputBinding::CloseServer(void* device, uint32_t a, void* b) const {
  return entry_.CloseServer ? entry_.CloseServer(device, a, b) : kE_NOTIMPL;
}
HResult DirectOutputBinding::SendServerMsg(void* device, uint32_t a, uint32_t b, uint32_t c, uint32_t d, void* e,
                                           uint32_t f, void* g, void* h) const {
  return entry_.SendServerMsg ? entry_.SendServerMsg(device, a, b, c, d, e, f, g, h) : kE_NOTIMPL;
}
HResult DirectOutputBinding::SendServerFile(void* device, uint32_t a, uint32_t b, uint32_t c, uint32_t d, void* e,
                                            uint32_t f, void* g, uint32_t h, void* i, void* j) const {
  return entry_.SendServerFile ? entry_.SendServerFile(device, a, b, c, d, e, f, g, h, i, j) : kE_NOTIMPL;
}
HResult DirectOutputBinding::SaveFile(void* device, uint32_t a, uint32_t b, uint32_t c, void* d, void* e) const {
  return entry_.SaveFile ? entry_.SaveFile(device, a, b, c, d, e) : kE_NOTIMPL;
}
HResult DirectOutputBinding::DisplayFile(void* device, uint32_t a, uint32_t b, uint32_t c, void* d) const {
  return entry_.DisplayFile ? entry_.DisplayFile(device, a, b, c, d) : kE_NOTIMPL;
}
HResult DirectOutputBinding::DeleteFile(void* device, uint32_t a, uint32_t b, void* c) const {
  return entry_.DeleteFile ? entry_.DeleteFile(device, a, b, c) : kE_NOTIMPL;
}

}  // namespace vexlan

#include "directoutput/binding.h"

#include "directoutput/library_loader.h"

namespace vexlan {
namespace {

template <typename EntryPointType>
void Resolve(void* library, const char* name, EntryPointType* entry_point) {
  entry_point->set_address(directoutput::FindEntryPoint(library, name));
}

}  // namespace

DirectOutputBinding LoadDirectOutput() { return BindDirectOutput(directoutput::OpenDirectOutputLibrary()); }

DirectOutputBinding BindDirectOutput(void* library) {
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

}  // namespace vexlan

#include "directoutput/binding.h"

#include "directoutput/library_loader.h"

namespace vexlan {
namespace {

// Calls visit(name, entry point) for each of the 22, in table order; each is exported as
// "DirectOutput_" + name.
template <typename EntryPoints, typename Visit>
void ForEachEntryPoint(EntryPoints& e, Visit visit) {
  visit("DirectOutput_Initialize", e.Initialize);
  visit("DirectOutput_Deinitialize", e.Deinitialize);
  visit("DirectOutput_RegisterDeviceCallback", e.RegisterDeviceCallback);
  visit("DirectOutput_Enumerate", e.Enumerate);
  visit("DirectOutput_RegisterPageCallback", e.RegisterPageCallback);
  visit("DirectOutput_RegisterSoftButtonCallback", e.RegisterSoftButtonCallback);
  visit("DirectOutput_GetDeviceType", e.GetDeviceType);
  visit("DirectOutput_GetDeviceInstance", e.GetDeviceInstance);
  visit("DirectOutput_SetProfile", e.SetProfile);
  visit("DirectOutput_AddPage", e.AddPage);
  visit("DirectOutput_RemovePage", e.RemovePage);
  visit("DirectOutput_SetLed", e.SetLed);
  visit("DirectOutput_SetString", e.SetString);
  visit("DirectOutput_SetImage", e.SetImage);
  visit("DirectOutput_SetImageFromFile", e.SetImageFromFile);
  visit("DirectOutput_StartServer", e.StartServer);
  visit("DirectOutput_CloseServer", e.CloseServer);
  visit("DirectOutput_SendServerMsg", e.SendServerMsg);
  visit("DirectOutput_SendServerFile", e.SendServerFile);
  visit("DirectOutput_SaveFile", e.SaveFile);
  visit("DirectOutput_DisplayFile", e.DisplayFile);
  visit("DirectOutput_DeleteFile", e.DeleteFile);
}

}  // namespace

DirectOutputBinding LoadDirectOutput() { return BindDirectOutput(directoutput::OpenDirectOutputLibrary()); }

DirectOutputBinding BindDirectOutput(void* library) {
  if (library == nullptr) return DirectOutputBinding();
  DirectOutputEntryPoints e;
  ForEachEntryPoint(e, [library](const char* name, auto& entry_point) {
    entry_point.set_address(directoutput::FindEntryPoint(library, name));
  });
  return DirectOutputBinding(library, e);
}

std::vector<std::string> MissingEntryPoints(void* library) {
  std::vector<std::string> missing;
  DirectOutputEntryPoints e;
  ForEachEntryPoint(e, [library, &missing](const char* name, auto&) {
    if (directoutput::FindEntryPoint(library, name) == nullptr) missing.push_back(name);
  });
  return missing;
}

}  // namespace vexlan

// The 22 DirectOutput entry points, exported with C linkage under their library names.
#include <type_traits>

#include "simulator/simulator.h"

using vexlan::Guid;
using vexlan::HResult;
using vexlan::WideChar;
using vexlan::sim::Simulator;
namespace api = vexlan::directoutput;

extern "C" {

VEXLAN_EXPORT HResult DirectOutput_Initialize(const WideChar* plugin_name) {
  return Simulator::Instance().Initialize(plugin_name);
}
VEXLAN_EXPORT HResult DirectOutput_Deinitialize() { return Simulator::Instance().Deinitialize(); }
VEXLAN_EXPORT HResult DirectOutput_RegisterDeviceCallback(vexlan::DeviceChangeHandlerFn handler, void* context) {
  return Simulator::Instance().RegisterDeviceCallback(handler, context);
}
VEXLAN_EXPORT HResult DirectOutput_Enumerate(vexlan::EnumerateHandlerFn handler, void* context) {
  return Simulator::Instance().Enumerate(handler, context);
}
VEXLAN_EXPORT HResult DirectOutput_RegisterPageCallback(void* device, vexlan::PageChangeHandlerFn handler,
                                                        void* context) {
  return Simulator::Instance().RegisterPageCallback(device, handler, context);
}
VEXLAN_EXPORT HResult DirectOutput_RegisterSoftButtonCallback(void* device, vexlan::SoftButtonHandlerFn handler,
                                                              void* context) {
  return Simulator::Instance().RegisterSoftButtonCallback(device, handler, context);
}
VEXLAN_EXPORT HResult DirectOutput_GetDeviceType(void* device, Guid* type) {
  return Simulator::Instance().GetDeviceType(device, type);
}
VEXLAN_EXPORT HResult DirectOutput_GetDeviceInstance(void* device, Guid* instance) {
  return Simulator::Instance().GetDeviceInstance(device, instance);
}
VEXLAN_EXPORT HResult DirectOutput_SetProfile(void* device, uint32_t length, const WideChar* path) {
  return Simulator::Instance().SetProfile(device, length, path);
}
VEXLAN_EXPORT HResult DirectOutput_AddPage(void* device, uint32_t page, uint32_t flags) {
  return Simulator::Instance().AddPage(device, page, flags);
}
VEXLAN_EXPORT HResult DirectOutput_RemovePage(void* device, uint32_t page) {
  return Simulator::Instance().RemovePage(device, page);
}
VEXLAN_EXPORT HResult DirectOutput_SetLed(void* device, uint32_t page, uint32_t index, uint32_t value) {
  return Simulator::Instance().SetLed(device, page, index, value);
}
VEXLAN_EXPORT HResult DirectOutput_SetString(void* device, uint32_t page, uint32_t index, uint32_t length,
                                             const WideChar* text) {
  return Simulator::Instance().SetString(device, page, index, length, text);
}
VEXLAN_EXPORT HResult DirectOutput_SetImage(void* device, uint32_t page, uint32_t index, uint32_t bytes,
                                            const void* data) {
  return Simulator::Instance().SetImage(device, page, index, bytes, data);
}
VEXLAN_EXPORT HResult DirectOutput_SetImageFromFile(void* device, uint32_t page, uint32_t index, uint32_t length,
                                                    const WideChar* file) {
  return Simulator::Instance().SetImageFromFile(device, page, index, length, file);
}
VEXLAN_EXPORT HResult DirectOutput_StartServer(void* device, uint32_t, void*, void*, void*) {
  return Simulator::Instance().Unused("StartServer", device);
}
VEXLAN_EXPORT HResult DirectOutput_CloseServer(void* device, uint32_t, void*) {
  return Simulator::Instance().Unused("CloseServer", device);
}
VEXLAN_EXPORT HResult DirectOutput_SendServerMsg(void* device, uint32_t, uint32_t, uint32_t, uint32_t, void*, uint32_t,
                                                 void*, void*) {
  return Simulator::Instance().Unused("SendServerMsg", device);
}
VEXLAN_EXPORT HResult DirectOutput_SendServerFile(void* device, uint32_t, uint32_t, uint32_t, uint32_t, void*, uint32_t,
                                                  void*, uint32_t, void*, void*) {
  return Simulator::Instance().Unused("SendServerFile", device);
}
VEXLAN_EXPORT HResult DirectOutput_SaveFile(void* device, uint32_t, uint32_t, uint32_t, void*, void*) {
  return Simulator::Instance().Unused("SaveFile", device);
}
VEXLAN_EXPORT HResult DirectOutput_DisplayFile(void* device, uint32_t, uint32_t, uint32_t, void*) {
  return Simulator::Instance().Unused("DisplayFile", device);
}
VEXLAN_EXPORT HResult DirectOutput_DeleteFile(void* device, uint32_t, uint32_t, void*) {
  return Simulator::Instance().Unused("DeleteFile", device);
}

}  // extern "C"

#include "directoutput/exports_match_binding.h"  // checks the exports above against the binding

// The recording library's 22 DirectOutput entry points, exported with C linkage under the library's
// names, and its Lua module "vexlan_recorder", which turns a trace into a scenario for the run command.
#include <fstream>
#include <sstream>
#include <type_traits>

#include "platform/lua_api.h"
#include "recorder/recorder.h"

using vexlan::Guid;
using vexlan::HResult;
using vexlan::WideChar;
using vexlan::recorder::Recorder;
namespace api = vexlan::directoutput;

namespace {
Recorder& R() { return Recorder::Instance(); }
}  // namespace

extern "C" {

VEXLAN_EXPORT HResult DirectOutput_Initialize(const WideChar* plugin_name) { return R().Initialize(plugin_name); }
VEXLAN_EXPORT HResult DirectOutput_Deinitialize() { return R().Deinitialize(); }
VEXLAN_EXPORT HResult DirectOutput_RegisterDeviceCallback(vexlan::DeviceChangeHandlerFn handler, void* context) {
  return R().RegisterDeviceCallback(handler, context);
}
VEXLAN_EXPORT HResult DirectOutput_Enumerate(vexlan::EnumerateHandlerFn handler, void* context) {
  return R().Enumerate(handler, context);
}
VEXLAN_EXPORT HResult DirectOutput_RegisterPageCallback(void* device, vexlan::PageChangeHandlerFn handler,
                                                        void* context) {
  return R().RegisterPageCallback(device, handler, context);
}
VEXLAN_EXPORT HResult DirectOutput_RegisterSoftButtonCallback(void* device, vexlan::SoftButtonHandlerFn handler,
                                                              void* context) {
  return R().RegisterSoftButtonCallback(device, handler, context);
}
VEXLAN_EXPORT HResult DirectOutput_GetDeviceType(void* device, Guid* type) { return R().GetDeviceType(device, type); }
VEXLAN_EXPORT HResult DirectOutput_GetDeviceInstance(void* device, Guid* instance) {
  return R().GetDeviceInstance(device, instance);
}
VEXLAN_EXPORT HResult DirectOutput_SetProfile(void* device, uint32_t length, const WideChar* path) {
  return R().SetProfile(device, length, path);
}
VEXLAN_EXPORT HResult DirectOutput_AddPage(void* device, uint32_t page, uint32_t flags) {
  return R().AddPage(device, page, flags);
}
VEXLAN_EXPORT HResult DirectOutput_RemovePage(void* device, uint32_t page) { return R().RemovePage(device, page); }
VEXLAN_EXPORT HResult DirectOutput_SetLed(void* device, uint32_t page, uint32_t index, uint32_t value) {
  return R().SetLed(device, page, index, value);
}
VEXLAN_EXPORT HResult DirectOutput_SetString(void* device, uint32_t page, uint32_t index, uint32_t length,
                                             const WideChar* text) {
  return R().SetString(device, page, index, length, text);
}
VEXLAN_EXPORT HResult DirectOutput_SetImage(void* device, uint32_t page, uint32_t index, uint32_t bytes,
                                            const void* data) {
  return R().SetImage(device, page, index, bytes, data);
}
VEXLAN_EXPORT HResult DirectOutput_SetImageFromFile(void* device, uint32_t page, uint32_t index, uint32_t length,
                                                    const WideChar* file) {
  return R().SetImageFromFile(device, page, index, length, file);
}
VEXLAN_EXPORT HResult DirectOutput_StartServer(void* device, uint32_t a, void* b, void* c, void* d) {
  return R().Unused("StartServer", device, R().real()->StartServer(device, a, b, c, d));
}
VEXLAN_EXPORT HResult DirectOutput_CloseServer(void* device, uint32_t a, void* b) {
  return R().Unused("CloseServer", device, R().real()->CloseServer(device, a, b));
}
VEXLAN_EXPORT HResult DirectOutput_SendServerMsg(void* device, uint32_t a, uint32_t b, uint32_t c, uint32_t d, void* e,
                                                 uint32_t f, void* g, void* h) {
  return R().Unused("SendServerMsg", device, R().real()->SendServerMsg(device, a, b, c, d, e, f, g, h));
}
VEXLAN_EXPORT HResult DirectOutput_SendServerFile(void* device, uint32_t a, uint32_t b, uint32_t c, uint32_t d, void* e,
                                                  uint32_t f, void* g, uint32_t h, void* i, void* j) {
  return R().Unused("SendServerFile", device, R().real()->SendServerFile(device, a, b, c, d, e, f, g, h, i, j));
}
VEXLAN_EXPORT HResult DirectOutput_SaveFile(void* device, uint32_t a, uint32_t b, uint32_t c, void* d, void* e) {
  return R().Unused("SaveFile", device, R().real()->SaveFile(device, a, b, c, d, e));
}
VEXLAN_EXPORT HResult DirectOutput_DisplayFile(void* device, uint32_t a, uint32_t b, uint32_t c, void* d) {
  return R().Unused("DisplayFile", device, R().real()->DisplayFile(device, a, b, c, d));
}
VEXLAN_EXPORT HResult DirectOutput_DeleteFile(void* device, uint32_t a, uint32_t b, void* c) {
  return R().Unused("DeleteFile", device, R().real()->DeleteFile(device, a, b, c));
}

}  // extern "C"

#include "directoutput/exports_match_binding.h"  // checks the exports above against the binding

// ---- the Lua module -------------------------------------------------------------------------------
namespace {

bool ReadText(const char* path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream contents;
  contents << file.rdbuf();
  *text = contents.str();
  return true;
}

int ReturnError(lua_State* L, const std::string& what) {
  lua_pushnil(L);
  lua_pushstring(L, what.c_str());
  return 2;
}

// scenario(TRACE [, KEYS_SCENARIO]): the trace's device events as a scenario's text and the devices
// attached at start ("X52P,SFIP"), or nil and what is wrong.
int recorder_scenario(lua_State* L) {
  const char* trace_path = luaL_checkstring(L, 1);
  const char* keys_path = luaL_optstring(L, 2, nullptr);
  std::string trace, keys, scenario, devices, error;
  if (!ReadText(trace_path, &trace)) return ReturnError(L, std::string("cannot read the trace ") + trace_path);
  if (keys_path != nullptr && !ReadText(keys_path, &keys))
    return ReturnError(L, std::string("cannot read the scenario ") + keys_path);
  if (!vexlan::recorder::TraceToScenario(trace, keys, &scenario, &devices, &error))
    return ReturnError(L, error);
  lua_pushlstring(L, scenario.data(), scenario.size());
  lua_pushlstring(L, devices.data(), devices.size());
  return 2;
}

const luaL_Reg kRecorderFunctions[] = {
    {"scenario", recorder_scenario},
    {nullptr, nullptr},
};

}  // namespace

// The library the recorder stands in front of, for vexlan_sim's check that a script's simulator is the
// one the module drives, through the recorder too.
extern "C" VEXLAN_EXPORT void* vexlan_recorder_recorded_library() {
  return vexlan::recorder::Recorder::Instance().real().library();
}

extern "C" VEXLAN_EXPORT int luaopen_vexlan_recorder(lua_State* L) {
  luaL_register(L, "vexlan_recorder", kRecorderFunctions);
  return 1;
}

// The Lua functions that change what a device shows: arguments checked here, DirectOutput called with the
// slot's handle, images and texts prepared by output/.
#include <cstdlib>

#include "devices/device_manager.h"
#include "module/device_call.h"
#include "module/lua_functions.h"
#include "output/picture_surface.h"
#include "output/image_convert.h"
#include "output/image_file.h"
#include "output/wide_text.h"

namespace vexlan {
namespace {

const DirectOutputBinding& DirectOutput() { return DeviceManager::Instance().binding(); }

// The converted text of one call, freed when the call returns.
class WideText {
 public:
  explicit WideText(const char* text) : count_(ToWideString(text, &units_)) {}
  ~WideText() { std::free(units_); }
  WideText(const WideText&) = delete;
  WideText& operator=(const WideText&) = delete;
  bool ok() const { return units_ != nullptr; }
  const WideChar* units() const { return units_; }
  uint32_t count() const { return static_cast<uint32_t>(count_); }

 private:
  WideChar* units_ = nullptr;
  int32_t count_;
};

// The device image of SetImage lives in storage of the calling state's own, made on its first SetImage
// and freed with the state: never on the host thread's stack (which may be small), never allocated per
// call. A state never runs on two threads at once, so no two calls share it. (Storage per thread would
// not do: on Windows the module asks not to hear of threads ending, so it would outlive its thread.)
const char kDeviceImageKey = 0;

int CreateDeviceImage(lua_State* state) {
  lua_pushlightuserdata(state, const_cast<char*>(&kDeviceImageKey));
  lua_newuserdata(state, kDeviceImageBytes);
  lua_rawset(state, LUA_REGISTRYINDEX);
  return 0;
}

uint8_t* DeviceImageOf(lua_State* state) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    lua_pushlightuserdata(state, const_cast<char*>(&kDeviceImageKey));
    lua_rawget(state, LUA_REGISTRYINDEX);
    void* image = lua_touserdata(state, -1);
    lua_pop(state, 1);
    if (image != nullptr) return static_cast<uint8_t*>(image);
    // Protected: running out of memory here must not raise a Lua error into the script.
    if (lua_cpcall(state, CreateDeviceImage, nullptr) != 0) {
      lua_pop(state, 1);
      return nullptr;
    }
  }
  return nullptr;
}

using ArgKinds = std::initializer_list<ArgKind>;
constexpr ArgKind S = ArgKind::kString;
constexpr ArgKind N = ArgKind::kNumber;
constexpr ArgKind B = ArgKind::kBoolean;

}  // namespace

int vexlan_AddPage(lua_State* state) {
  DeviceAddress device;
  if (!ResolveDeviceCall(state, ArgKinds{S, N, N, B}, &device)) return 0;
  const uint32_t page = static_cast<uint32_t>(Int32Arg(state, 3));
  const uint32_t flags = FlagArg(state, 4);
  return PushResultCode(state, DirectOutput()->AddPage(device.handle, page, nullptr, flags));
}

int vexlan_RemovePage(lua_State* state) {
  DeviceAddress device;
  if (!ResolveDeviceCall(state, ArgKinds{S, N, N}, &device)) return 0;
  const uint32_t page = static_cast<uint32_t>(Int32Arg(state, 3));
  return PushResultCode(state, DirectOutput()->RemovePage(device.handle, page));
}

int vexlan_SetLed(lua_State* state) {
  DeviceAddress device;
  if (!ResolveDeviceCall(state, ArgKinds{S, N, N, N, B}, &device)) return 0;
  const uint32_t page = static_cast<uint32_t>(Int32Arg(state, 3));
  const uint32_t index = static_cast<uint32_t>(Int32Arg(state, 4));
  const uint32_t value = FlagArg(state, 5);
  return PushResultCode(state, DirectOutput()->SetLed(device.handle, page, index, value));
}

int vexlan_SetString(lua_State* state) {
  DeviceAddress device;
  if (!ResolveDeviceCall(state, ArgKinds{S, N, N, N, S}, &device)) return 0;
  const uint32_t page = static_cast<uint32_t>(Int32Arg(state, 3));
  const uint32_t index = ZeroBasedIndexArg(state, 4);
  WideText text(lua_tolstring(state, 5, nullptr));
  if (!text.ok()) return PushResultCode(state, kE_OUTOFMEMORY);
  return PushResultCode(state, DirectOutput()->SetString(device.handle, page, index, text.count(), text.units()));
}

int vexlan_SetProfile(lua_State* state) {
  DeviceAddress device;
  if (!ResolveDeviceCall(state, ArgKinds{S, N, S}, &device)) return 0;
  WideText path(lua_tolstring(state, 3, nullptr));
  if (!path.ok()) return PushResultCode(state, kE_OUTOFMEMORY);
  return PushResultCode(state, DirectOutput()->SetProfile(device.handle, path.count(), path.units()));
}

int vexlan_SetImage(lua_State* state) {
  DeviceAddress device;
  if (!ResolveDeviceCall(state, ArgKinds{S, N, N, N, S}, &device)) return 0;
  const uint32_t page = static_cast<uint32_t>(Int32Arg(state, 3));
  const uint32_t index = ZeroBasedIndexArg(state, 4);
  size_t length = 0;
  const char* data = lua_tolstring(state, 5, &length);
  // A picture shorter than the raw format would be read past its end: refuse it, send nothing.
  if (length < kRawImageBytes) return 0;
  uint8_t* image = DeviceImageOf(state);
  if (image == nullptr) return PushResultCode(state, kE_OUTOFMEMORY);
  ConvertRawImage(reinterpret_cast<const uint8_t*>(data), image);
  return PushResultCode(
      state, DirectOutput()->SetImage(device.handle, page, index, static_cast<uint32_t>(kDeviceImageBytes), image));
}

int vexlan_SetImageFromFile(lua_State* state) {
  if (!DeviceManager::Instance().is_open()) return 0;
  const int arguments = lua_gettop(state);
  const bool five = HasArguments(state, ArgKinds{S, N, N, N, S});
  const bool six = HasArguments(state, ArgKinds{S, N, N, N, S, B});
  if (!five && !six) return 0;
  const uint32_t page = static_cast<uint32_t>(Int32Arg(state, 3));
  const uint32_t index = ZeroBasedIndexArg(state, 4);
  const char* name = lua_tolstring(state, 5, nullptr);
  const bool resize = arguments == 6 && lua_toboolean(state, 6) == 1;
  DeviceAddress device;
  if (!ResolvePresentDevice(state, &device)) return 0;

  WideText file(name);
  if (!file.ok()) return PushResultCode(state, kE_OUTOFMEMORY);
  if (!resize)
    return PushResultCode(state,
                          DirectOutput()->SetImageFromFile(device.handle, page, index, file.count(), file.units()));

  PictureSurface surface(kImageWidth, kImageHeight, 24);
  if (!surface.ok()) return PushResultCode(state, kE_OUTOFMEMORY);
  DrawImageFile(surface.BeginDraw(), file.units());
  surface.EndDraw();
  return PushResultCode(state, DirectOutput()->SetImage(device.handle, page, index,
                                                       static_cast<uint32_t>(kDeviceImageBytes), surface.copy_buffer()));
}

}  // namespace vexlan

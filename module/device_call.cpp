#include "module/device_call.h"

#include "devices/device_manager.h"
#include "module/conversions.h"

namespace vexlan {

bool IsKind(lua_State* state, int index, ArgKind kind) {
  switch (kind) {
    case ArgKind::kString:
      return lua_isstring(state, index) != 0;
    case ArgKind::kNumber:
      return lua_isnumber(state, index) != 0;
    case ArgKind::kBoolean:
      return lua_type(state, index) == LUA_TBOOLEAN;
    case ArgKind::kCallback:
      return lua_isstring(state, index) != 0 || lua_isnil(state, index) || lua_isfunction(state, index);
  }
  return false;
}

bool HasArguments(lua_State* state, std::initializer_list<ArgKind> kinds) {
  if (lua_gettop(state) != static_cast<int>(kinds.size())) return false;
  int index = 1;
  for (ArgKind kind : kinds)
    if (!IsKind(state, index++, kind)) return false;
  return true;
}

int32_t Int32Arg(lua_State* state, int index) { return ToInt32(lua_tonumber(state, index)); }

uint32_t ZeroBasedIndexArg(lua_State* state, int index) { return static_cast<uint32_t>(Int32Arg(state, index)) - 1u; }

uint32_t FlagArg(lua_State* state, int index) { return lua_toboolean(state, index) == 1 ? 1u : 0u; }

bool ResolvePresentDevice(lua_State* state, DeviceAddress* address) {
  const char* tag = lua_tolstring(state, 1, nullptr);
  const int32_t ordinal = Int32Arg(state, 2);
  address->slot = DeviceManager::Instance().table().ResolvePresent(tag, ordinal, &address->handle);
  return address->slot >= 0;
}

bool ResolveDeviceCall(lua_State* state, std::initializer_list<ArgKind> kinds, DeviceAddress* address) {
  if (!DeviceManager::Instance().is_open()) return false;
  if (!HasArguments(state, kinds)) return false;
  return ResolvePresentDevice(state, address);
}

int PushResultCode(lua_State* state, HResult result) {
  lua_pushnumber(state, ToResultCode(result));
  return 1;
}

}  // namespace vexlan

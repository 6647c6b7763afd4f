// vexlan.kinds: the catalogue of device kinds and the picture format, as tables for Lua code (the
// companion layer, the run command) that would otherwise write the tags and sizes again. A submodule in
// the same library (`require "vexlan.kinds"`); it needs no DirectOutput.
#include "devices/device_kinds.h"
#include "output/picture_format.h"
#include "platform/lua_api.h"

namespace vexlan {
namespace {

void SetNumber(lua_State* state, const char* name, double value) {
  lua_pushnumber(state, value);
  lua_setfield(state, -2, name);
}

void PushKind(lua_State* state, const DeviceKind& kind) {
  lua_createtable(state, 0, 5);
  lua_pushstring(state, kind.name);
  lua_setfield(state, -2, "tag");
  lua_pushboolean(state, kind.has_screen);
  lua_setfield(state, -2, "screen");
  SetNumber(state, "display_lines", kind.display_lines);
  SetNumber(state, "display_columns", kind.display_columns);
  lua_pushstring(state, kind.model);
  lua_setfield(state, -2, "model");
}

void PushPicture(lua_State* state) {
  lua_createtable(state, 0, 5);
  SetNumber(state, "width", kImageWidth);
  SetNumber(state, "height", kImageHeight);
  SetNumber(state, "raw_header_bytes", static_cast<double>(kRawHeaderBytes));
  SetNumber(state, "raw_bytes", static_cast<double>(kRawImageBytes));
  SetNumber(state, "device_bytes", static_cast<double>(kDeviceImageBytes));
}

}  // namespace
}  // namespace vexlan

// { tags = {"SFIP", ...} in the catalogue's order, [tag] = the kind, picture = the picture format }. A new
// table for each state, so that one script changing it changes no other's.
extern "C" VEXLAN_EXPORT int luaopen_vexlan_kinds(lua_State* state) {
  using namespace vexlan;
  lua_createtable(state, 0, kDeviceTypeTagCount + 2);
  lua_createtable(state, kDeviceTypeTagCount, 0);
  for (int i = 0; i < kDeviceTypeTagCount; ++i) {
    lua_pushstring(state, kDeviceKinds[i].name);
    lua_rawseti(state, -2, i + 1);
  }
  lua_setfield(state, -2, "tags");
  for (const DeviceKind& kind : kDeviceKinds) {
    PushKind(state, kind);
    lua_setfield(state, -2, kind.name);
  }
  PushPicture(state);
  lua_setfield(state, -2, "picture");
  return 1;
}

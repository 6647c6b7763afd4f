#include "tests/support/lua_state.h"

#include <cmath>

extern "C" {
#include <lualib.h>
}

namespace vexlan::test {

void PreloadModule(lua_State* state) {
  luaL_openlibs(state);
  lua_getglobal(state, "package");
  lua_getfield(state, -1, "preload");
  lua_pushcfunction(state, luaopen_vexlan);
  lua_setfield(state, -2, "vexlan");
  lua_pushcfunction(state, luaopen_vexlan_loop);
  lua_setfield(state, -2, "vexlan.loop");
  lua_pushcfunction(state, luaopen_vexlan_canvas);
  lua_setfield(state, -2, "vexlan.canvas");
  lua_pushcfunction(state, luaopen_vexlan_kinds);
  lua_setfield(state, -2, "vexlan.kinds");
  lua_pop(state, 1);
  // The companion layer from the source tree.
  lua_getfield(state, -1, "path");
  lua_pushstring(state, ";" VEXLAN_TEST_DATA "/../lua/?.lua");
  lua_concat(state, 2);
  lua_setfield(state, -2, "path");
  lua_pop(state, 1);
}

void OpenModule(lua_State* state) {
  PreloadModule(state);
  luaL_dostring(state, "require 'vexlan'");
}

LuaState::LuaState() : state_(luaL_newstate()) { OpenModule(state_); }

LuaState::~LuaState() { Close(); }

void LuaState::Close() {
  if (state_ != nullptr) lua_close(state_);
  state_ = nullptr;
}

std::string LuaState::Run(const std::string& code) {
  if (luaL_dostring(state_, code.c_str()) == 0) return "";
  std::string error = lua_tostring(state_, -1) ? lua_tostring(state_, -1) : "error";
  lua_pop(state_, 1);
  return error;
}

double LuaState::Number(const std::string& expression) {
  const int top = lua_gettop(state_);
  if (luaL_dostring(state_, ("return " + expression).c_str()) != 0 || lua_gettop(state_) == top ||
      !lua_isnumber(state_, top + 1)) {
    lua_settop(state_, top);
    return NAN;
  }
  const double value = lua_tonumber(state_, top + 1);
  lua_settop(state_, top);
  return value;
}

int LuaState::Count(const std::string& expression) {
  const int top = lua_gettop(state_);
  if (luaL_dostring(state_, ("return " + expression).c_str()) != 0) {
    lua_settop(state_, top);
    return -1;
  }
  const int count = lua_gettop(state_) - top;
  lua_settop(state_, top);
  return count;
}

}  // namespace vexlan::test

// Lua states for tests: each opens the standard libraries and the module, as `require "vexlan"` would.
#pragma once

#include <string>

#include "platform/lua_api.h"

extern "C" int luaopen_vexlan(lua_State* state);
extern "C" int luaopen_vexlan_loop(lua_State* state);
extern "C" int luaopen_vexlan_canvas(lua_State* state);
extern "C" int luaopen_vexlan_kinds(lua_State* state);

namespace vexlan::test {

// Opens the standard libraries in `state` and makes `require "vexlan"` (and "vexlan.loop", "vexlan.canvas",
// "vexlan.kinds") open the module built into the test, and `require "vexlan.cockpit"` find the layer in the
// source tree.
void PreloadModule(lua_State* state);
// Opens the standard libraries and the module in `state`, as `require "vexlan"` would.
void OpenModule(lua_State* state);

class LuaState {
 public:
  LuaState();
  ~LuaState();
  LuaState(const LuaState&) = delete;
  LuaState& operator=(const LuaState&) = delete;

  lua_State* get() const { return state_; }
  // Runs `code`; returns "" or the error message.
  std::string Run(const std::string& code);
  // Runs `expression` and returns its value as a number (NaN for none or a non-number).
  double Number(const std::string& expression);
  // Runs `expression` and returns the count of values it gave.
  int Count(const std::string& expression);
  void Close();

 private:
  lua_State* state_;
};

}  // namespace vexlan::test

// The Lua module "vexlan_sim": drives the simulated library from a script. It lives in the library's own
// file, so `require "vexlan_sim"` reaches the very instance that the module loaded.
#include <cstring>

#include "directoutput/library_loader.h"
#include "platform/lua_api.h"
#include "simulator/simulator.h"

namespace vexlan::sim {
namespace {

Simulator& Sim() { return Simulator::Instance(); }

// Numbers are truncated toward zero, as the module takes them; one that no integer of the kind holds
// (NaN, infinities, 1e300) is refused before any conversion, which would be undefined.
int IdArg(lua_State* L, int index) {
  const lua_Number value = luaL_checknumber(L, index);
  if (!(value > -2147483649.0 && value < 2147483648.0))
    luaL_argerror(L, index, "a whole number from -2147483648 to 2147483647 expected");
  return static_cast<int>(value);
}
// Signed or unsigned 32-bit forms are both taken, as DirectOutput sees the module's numbers:
// -1 is 0xFFFFFFFF.
uint32_t U32Arg(lua_State* L, int index) {
  const lua_Number value = luaL_checknumber(L, index);
  if (!(value > -2147483649.0 && value < 4294967296.0))
    luaL_argerror(L, index, "a whole number from -2147483648 to 4294967295 expected");
  return static_cast<uint32_t>(static_cast<int64_t>(value));
}

template <typename T>
void PushOptionalNumber(lua_State* L, const char* field, const std::optional<T>& value) {
  if (!value) return;
  lua_pushnumber(L, static_cast<lua_Number>(*value));
  lua_setfield(L, -2, field);
}

// A replay plays the recorded device events: a script's own plugs, presses and page turns would come on
// top of them, and every call after the first would differ for that reason alone. They are refused, so
// that the script stops with the reason at the control it used.
void RefuseDuringReplay(lua_State* L, const char* control) {
  if (Sim().PlaysInStep())
    luaL_error(L, "vexlan_sim.%s: a replay plays the trace's device events; a script that plugs, unplugs, "
                  "presses or turns pages itself cannot be replayed", control);
}

int sim_plug(lua_State* L) {
  RefuseDuringReplay(L, "plug");
  lua_pushnumber(L, Sim().Plug(luaL_checkstring(L, 1)));
  return 1;
}

int sim_unplug(lua_State* L) {
  RefuseDuringReplay(L, "unplug");
  lua_pushboolean(L, Sim().Unplug(IdArg(L, 1)));
  return 1;
}

int sim_replug(lua_State* L) {
  RefuseDuringReplay(L, "replug");
  lua_pushboolean(L, Sim().Replug(IdArg(L, 1), lua_toboolean(L, 2) != 0));
  return 1;
}

int sim_buttons(lua_State* L) {
  RefuseDuringReplay(L, "buttons");
  lua_pushboolean(L, Sim().Buttons(IdArg(L, 1), U32Arg(L, 2)));
  return 1;
}

int sim_page(lua_State* L) {
  RefuseDuringReplay(L, "page");
  lua_pushboolean(L, Sim().PageChange(IdArg(L, 1), U32Arg(L, 2), lua_toboolean(L, 3) != 0));
  return 1;
}

int sim_flush(lua_State*) {
  Sim().Flush();
  return 0;
}

int sim_reset(lua_State* L) {
  Sim().Reset(luaL_optstring(L, 1, ""));
  return 0;
}

int sim_devices(lua_State* L) {
  const std::vector<DeviceInfo> devices = Sim().Devices();
  lua_createtable(L, static_cast<int>(devices.size()), 0);
  for (size_t i = 0; i < devices.size(); ++i) {
    lua_createtable(L, 0, 3);
    lua_pushnumber(L, devices[i].id);
    lua_setfield(L, -2, "id");
    lua_pushstring(L, devices[i].tag.c_str());
    lua_setfield(L, -2, "tag");
    lua_pushboolean(L, devices[i].present);
    lua_setfield(L, -2, "present");
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  return 1;
}

int sim_string(lua_State* L) {
  auto text = Sim().String(IdArg(L, 1), U32Arg(L, 2), U32Arg(L, 3));
  if (!text) return lua_pushnil(L), 1;
  lua_pushlstring(L, text->data(), text->size());
  return 1;
}

int sim_led(lua_State* L) {
  auto on = Sim().Led(IdArg(L, 1), U32Arg(L, 2), U32Arg(L, 3));
  if (!on) return lua_pushnil(L), 1;
  lua_pushboolean(L, *on);
  return 1;
}

int sim_image(lua_State* L) {
  auto image = Sim().Image(IdArg(L, 1), U32Arg(L, 2), U32Arg(L, 3));
  if (!image) return lua_pushnil(L), 1;
  lua_pushlstring(L, reinterpret_cast<const char*>(image->data()), image->size());
  return 1;
}

int sim_pages(lua_State* L) {
  const std::vector<uint32_t> pages = Sim().Pages(IdArg(L, 1));
  lua_createtable(L, static_cast<int>(pages.size()), 0);
  for (size_t i = 0; i < pages.size(); ++i) {
    lua_pushnumber(L, pages[i]);
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  return 1;
}

int sim_active_page(lua_State* L) {
  auto page = Sim().ActivePage(IdArg(L, 1));
  if (!page) return lua_pushnil(L), 1;
  lua_pushnumber(L, *page);
  return 1;
}

int sim_profile(lua_State* L) {
  auto profile = Sim().Profile(IdArg(L, 1));
  if (!profile) return lua_pushnil(L), 1;
  lua_pushlstring(L, profile->data(), profile->size());
  return 1;
}

int sim_calls(lua_State* L) {
  const std::vector<CallRecord> calls = Sim().Calls();
  lua_createtable(L, static_cast<int>(calls.size()), 0);
  for (size_t i = 0; i < calls.size(); ++i) {
    const CallRecord& call = calls[i];
    lua_createtable(L, 0, 8);
    lua_pushstring(L, call.name.c_str());
    lua_setfield(L, -2, "name");
    if (call.id != 0) {
      lua_pushnumber(L, call.id);
      lua_setfield(L, -2, "id");
    }
    PushOptionalNumber(L, "page", call.page);
    PushOptionalNumber(L, "index", call.index);
    PushOptionalNumber(L, "flags", call.flags);
    PushOptionalNumber(L, "value", call.value);
    PushOptionalNumber(L, "length", call.length);
    PushOptionalNumber(L, "bytes", call.bytes);
    if (call.text) {
      lua_pushlstring(L, call.text->data(), call.text->size());
      lua_setfield(L, -2, "text");
    }
    if (call.handler) {
      lua_pushboolean(L, *call.handler);
      lua_setfield(L, -2, "handler");
    }
    lua_pushnumber(L, static_cast<lua_Number>(static_cast<uint32_t>(call.result)));
    lua_setfield(L, -2, "result");
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  lua_pushnumber(L, static_cast<lua_Number>(Sim().ForgottenCalls()));
  return 2;
}

int sim_clear_calls(lua_State*) {
  Sim().ClearCalls();
  return 0;
}

int sim_recording(lua_State* L) {
  Sim().SetRecording(lua_toboolean(L, 1) != 0);
  return 0;
}

HResult HResultArg(lua_State* L, int index) { return static_cast<HResult>(U32Arg(L, index)); }

int sim_fail(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  if (std::strncmp(name, "DirectOutput_", 13) == 0) name += 13;
  if (lua_isnoneornil(L, 2))
    Sim().Unfail(name);
  else
    Sim().FailAfter(name, lua_isnoneornil(L, 3) ? 0 : U32Arg(L, 3), HResultArg(L, 2));
  return 0;
}

// check_scenario(path): the scenario's end time in seconds, or nil and what is wrong with it.
int sim_check_scenario(lua_State* L) {
  double end = 0;
  const std::string problem = CheckScenario(luaL_checkstring(L, 1), &end);
  if (!problem.empty()) {
    lua_pushnil(L);
    lua_pushstring(L, problem.c_str());
    return 2;
  }
  lua_pushnumber(L, end);
  return 1;
}

const luaL_Reg kSimFunctions[] = {
    {"check_scenario", sim_check_scenario},
    {"plug", sim_plug},
    {"unplug", sim_unplug},
    {"replug", sim_replug},
    {"buttons", sim_buttons},
    {"page", sim_page},
    {"flush", sim_flush},
    {"reset", sim_reset},
    {"devices", sim_devices},
    {"string", sim_string},
    {"led", sim_led},
    {"image", sim_image},
    {"pages", sim_pages},
    {"active_page", sim_active_page},
    {"profile", sim_profile},
    {"calls", sim_calls},
    {"clear_calls", sim_clear_calls},
    {"recording", sim_recording},
    {"fail", sim_fail},
    {nullptr, nullptr},
};

}  // namespace
}  // namespace vexlan::sim

// The simulator a script controls must be the one the module drives: a second copy of this library,
// found by `require` before the configured one, would take the script's presses and plugs while the
// module's devices never change. Such a copy refuses to open, and says which file to keep. Behind the
// recording library, the simulator it records is the one that counts.
extern "C" VEXLAN_EXPORT int luaopen_vexlan_sim(lua_State* L) {
  using namespace vexlan::directoutput;
  void* configured = OpenDirectOutputLibrary();
  using RecordedLibraryFn = void* (*)();
  if (auto recorded = reinterpret_cast<RecordedLibraryFn>(FindEntryPoint(configured, "vexlan_recorder_recorded_library")))
    configured = recorded();
  if (FindEntryPoint(configured, "luaopen_vexlan_sim") != reinterpret_cast<void*>(&luaopen_vexlan_sim)) {
    const std::string here = LibraryFileOfAddress(reinterpret_cast<void*>(&luaopen_vexlan_sim));
    if (configured == nullptr)
      return luaL_error(L, "vexlan_sim: %s names no library that loads, so vexlan does not use this simulator (%s): "
                        "register it (on Windows run use-simulator.cmd as administrator; require \"vexlan.check\" "
                        "tells more)", kSettingName, here.c_str());
    return luaL_error(L, "vexlan_sim: this copy of the simulator is %s, but vexlan uses %s, named by %s; "
                      "two copies would not share their devices: keep one (delete the other copy, or register "
                      "this one with use-simulator.cmd)", here.c_str(), LibraryFile(configured).c_str(), kSettingName);
  }
  luaL_register(L, "vexlan_sim", vexlan::sim::kSimFunctions);
  return 1;
}

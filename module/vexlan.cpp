// The module's entry from Lua: the opener, the function table, the client userdata, and the functions
// that address no device.
#include <cstdio>

#include "devices/device_manager.h"
#include "events/dispatch.h"
#include "events/event_handlers.h"
#include "module/client_registry.h"
#include "module/conversions.h"
#include "module/device_call.h"
#include "module/lua_functions.h"
#include "output/image_file.h"
#include "platform/input_wait.h"
#include "platform/module_pin.h"

namespace vexlan {
namespace {

constexpr char kClientMetatable[] = "LuaVexlanLibData";
// Registry key (its address) of the client userdata that calls from any of the state's threads find,
// so that a coroutine, or the client's own thread in a callback, reaches the same client.
const char kCallingClientKey = 0;

const luaL_Reg kFunctions[] = {
    {"GetVersion", vexlan_GetVersion},
    {"Listen", vexlan_Listen},
    {"GetNumDevices", vexlan_GetNumDevices},
    {"AddPage", vexlan_AddPage},
    {"RemovePage", vexlan_RemovePage},
    {"SetLed", vexlan_SetLed},
    {"SetImageFromFile", vexlan_SetImageFromFile},
    {"SetImage", vexlan_SetImage},
    {"SetString", vexlan_SetString},
    {"SetProfile", vexlan_SetProfile},
    {"RegisterDeviceChangeCallback", vexlan_RegisterDeviceChangeCallback},
    {"RegisterPageCallback", vexlan_RegisterPageCallback},
    {"RegisterSoftButtonCallback", vexlan_RegisterSoftButtonCallback},
    {"RegisterSoftButtonUpCallback", vexlan_RegisterSoftButtonUpCallback},
    {"RegisterSoftButtonDownCallback", vexlan_RegisterSoftButtonDownCallback},
    {"Initialize", vexlan_Initialize},
    {"Release", vexlan_Release},
    {nullptr, nullptr},
};

// The client userdata: the state's entry, the registry reference that keeps the client's Lua thread
// alive, and whether its open of the device manager counted, so that its close balances exactly that
// open and no other.
struct ClientHandle {
  ClientEntry* entry;
  int32_t thread_reference;
  bool counted_open;
  bool closed;
};

ClientHandle* CallingHandle(lua_State* state) {
  lua_pushlightuserdata(state, const_cast<char*>(&kCallingClientKey));
  lua_rawget(state, LUA_REGISTRYINDEX);
  auto* handle = static_cast<ClientHandle*>(lua_touserdata(state, -1));
  lua_pop(state, 1);
  return handle;
}

// Makes the client anchored at `anchor` the one calls find, unless one opened before is still in use.
void RecordCallingClient(lua_State* state, int32_t anchor) {
  if (FindCallingClient(state) != nullptr) return;
  lua_pushlightuserdata(state, const_cast<char*>(&kCallingClientKey));
  lua_rawgeti(state, LUA_REGISTRYINDEX, anchor);
  lua_rawset(state, LUA_REGISTRYINDEX);
}

// The argument of client_gc when it is this module's client userdata; null for anything else (the
// finaliser is reachable from scripts through the debug library).
ClientHandle* ToClientHandle(lua_State* state) {
  void* block = lua_touserdata(state, 1);
  if (block == nullptr || lua_type(state, 1) != LUA_TUSERDATA || lua_objlen(state, 1) != sizeof(ClientHandle) ||
      !lua_getmetatable(state, 1))
    return nullptr;
  lua_getfield(state, LUA_REGISTRYINDEX, kClientMetatable);
  const bool ours = lua_rawequal(state, -1, -2) != 0;
  lua_pop(state, 2);
  return ours ? static_cast<ClientHandle*>(block) : nullptr;
}

// Process-wide set-up when the module's file is loaded, in this order.
struct LoadTimeSetup {
  LoadTimeSetup() {
    ImageDecoderSetUp();
    DeviceManager::Instance();
    ClientTable::Instance();
    ClientRegistry::Instance();
  }
} load_time_setup;

}  // namespace

int vexlan_GetVersion(lua_State* state) {
  lua_pushstring(state, "0.3.5");
  lua_pushnumber(state, 0);
  lua_pushnumber(state, 3);
  lua_pushnumber(state, 5);
  lua_pushnumber(state, 0);
  return 5;
}

ClientEntry* FindCallingClient(lua_State* state) {
  ClientHandle* handle = CallingHandle(state);
  return handle != nullptr ? handle->entry : nullptr;
}

int ListenForCharacter(lua_State* state) {
  ClientEntry* client = FindCallingClient(state);
  const bool parked = client != nullptr && ParkForListen(*client, [] { return !platform::WaitForInput(0); });
  const int character = std::fgetc(stdin);
  if (parked) ReturnFromListen(*client);
  return character;
}

int vexlan_Listen(lua_State* state) {
  ListenForCharacter(state);
  return 0;
}

int vexlan_GetNumDevices(lua_State* state) {
  DeviceManager& manager = DeviceManager::Instance();
  if (!manager.is_open()) return 0;
  const int arguments = lua_gettop(state);
  DeviceTypeTag filter;
  const DeviceTypeTag* filter_or_null = nullptr;
  if (arguments == 1 && lua_isstring(state, 1)) {
    filter = TagFromString(lua_tolstring(state, 1, nullptr));
    filter_or_null = &filter;
  } else if (arguments != 0) {
    return 0;
  }
  lua_pushnumber(state, manager.table().CountPresent(filter_or_null));
  return 1;
}

// Kept for scripts that call them: the module connects on `require` and disconnects when the last state
// that loaded it closes, which leaves these nothing to do.
int vexlan_Initialize(lua_State*) { return 0; }

int vexlan_Release(lua_State*) { return 0; }

int client_gc(lua_State* state) {
  ClientHandle* client = ToClientHandle(state);
  if (client == nullptr || client->closed) return 0;
  // Called from one of the state's own callbacks (a script can reach the finaliser): the delivery that
  // runs it is inside the state, so the client cannot be closed under it. It closes with the state.
  if (client->entry != nullptr && InCallbackOf(*client->entry)) return 0;
  client->closed = true;
  // A state that opened the module beyond the tenth client has no entry: nothing to give back, but its
  // open is still balanced.
  if (client->entry != nullptr) ClientRegistry::Instance().UnregisterClient(state, client->entry);
  client->entry = nullptr;
  luaL_unref(state, LUA_REGISTRYINDEX, client->thread_reference);  // no callback runs on it any more
  client->thread_reference = LUA_NOREF;
  if (client->counted_open) DeviceManager::Instance().Close();
  return 0;
}

}  // namespace vexlan

// Every step that can raise (any allocation) comes after the client userdata and its finaliser exist, so
// that a failure part-way leaves the collector to balance what was opened.
extern "C" VEXLAN_EXPORT int luaopen_vexlan(lua_State* state) {
  using namespace vexlan;
  // Stay loaded once loaded: DirectOutput may hold our handlers' addresses, and a module reloaded with
  // every state would build its process-wide singletons anew each time.
  platform::PinThisModule();
  luaL_newmetatable(state, kClientMetatable);
  lua_pushstring(state, "__gc");
  lua_pushcclosure(state, client_gc, 0);
  lua_settable(state, -3);
  auto* client = static_cast<ClientHandle*>(lua_newuserdata(state, sizeof(ClientHandle)));
  *client = ClientHandle{nullptr, LUA_NOREF, false, false};
  lua_pushvalue(state, -2);
  lua_setmetatable(state, -2);
  client->counted_open = DeviceManager::Instance().Open(DeviceHandlers{&EnumerationHandler, &DeviceChangeHandler});
  const int32_t anchor = luaL_ref(state, LUA_REGISTRYINDEX);
  luaL_register(state, "vexlan", kFunctions);
  lua_pop(state, 1);
  // Callbacks run on a thread of the client's own: `state` may be a coroutine, which the collector
  // frees once it ends, and which may be suspended with its stack in use when an event arrives.
  lua_State* thread = lua_newthread(state);
  client->thread_reference = luaL_ref(state, LUA_REGISTRYINDEX);
  RecordCallingClient(state, anchor);
  const TagReferences tags = MakeTagReferences(state);
  client->entry = ClientRegistry::Instance().RegisterClient(thread, anchor, tags);
  return 0;
}

// The module's Lua functions, one per name in the `vexlan` table, each named `vexlan_` and its Lua name.
#pragma once

#include "platform/lua_api.h"

namespace vexlan {

struct ClientEntry;

// Queries (vexlan.cpp).
int vexlan_GetVersion(lua_State* state);
int vexlan_Listen(lua_State* state);
int vexlan_GetNumDevices(lua_State* state);
int vexlan_Initialize(lua_State* state);
int vexlan_Release(lua_State* state);

// Output (output_functions.cpp), over the image operations of output/.
int vexlan_AddPage(lua_State* state);
int vexlan_RemovePage(lua_State* state);
int vexlan_SetLed(lua_State* state);
int vexlan_SetImageFromFile(lua_State* state);
int vexlan_SetImage(lua_State* state);
int vexlan_SetString(lua_State* state);
int vexlan_SetProfile(lua_State* state);

// Callback registration (register_functions.cpp), over the fan-out of events/.
int vexlan_RegisterDeviceChangeCallback(lua_State* state);
int vexlan_RegisterPageCallback(lua_State* state);
int vexlan_RegisterSoftButtonCallback(lua_State* state);
int vexlan_RegisterSoftButtonUpCallback(lua_State* state);
int vexlan_RegisterSoftButtonDownCallback(lua_State* state);

// Shared with the submodules (vexlan.cpp). The client entry of `state`'s Lua universe, found from any of
// its threads (the main one, a coroutine, the client's own in a callback); null when the module was not
// opened there, has no entry for it, or its client was closed.
ClientEntry* FindCallingClient(lua_State* state);
// Listen's work: callbacks run while it waits for one character of standard input, which it gives
// (EOF at the end of input).
int ListenForCharacter(lua_State* state);

// The client userdata's __gc.
int client_gc(lua_State* state);

}  // namespace vexlan

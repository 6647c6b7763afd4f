// The module's Lua functions, one per name in the `vexlan` table.
#pragma once

#include "platform/lua_api.h"

namespace vexlan {

struct ClientEntry;

// Queries (vexlan.cpp).
int GetVersion(lua_State* state);
int Listen(lua_State* state);
int GetNumDevices(lua_State* state);
int Initialize(lua_State* state);
int Release(lua_State* state);

// Output (output_functions.cpp), over the image operations of output/.
int AddPage(lua_State* state);
int RemovePage(lua_State* state);
int SetLed(lua_State* state);
int SetImageFromFile(lua_State* state);
int SetImage(lua_State* state);
int SetString(lua_State* state);
int SetProfile(lua_State* state);

// Callback registration (register_functions.cpp), over the fan-out of events/.
int RegisterDeviceChangeCallback(lua_State* state);
int RegisterPageCallback(lua_State* state);
int RegisterSoftButtonCallback(lua_State* state);
int RegisterSoftButtonUpCallback(lua_State* state);
int RegisterSoftButtonDownCallback(lua_State* state);

// Shared with the submodules (vexlan.cpp). The client entry of `state`'s Lua universe, found from any of
// its threads (the main one, a coroutine, the client's own in a callback); null when the module was not
// opened there, has no entry for it, or its client was closed.
ClientEntry* FindCallingClient(lua_State* state);
// Listen's work: callbacks run while it waits for one character of standard input, which it gives
// (EOF at the end of input).
int ListenForCharacter(lua_State* state);

// The client userdata's __gc.
int CloseClient(lua_State* state);

}  // namespace vexlan

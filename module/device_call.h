// The one sequence of checks every device function makes, and the argument kinds it checks against.
// A failed check means the function returns no values; none of these raises a Lua error.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "directoutput/directoutput_api.h"
#include "platform/lua_api.h"

namespace vexlan {

enum class ArgKind {
  kString,    // a string or a number (taken in its string form)
  kNumber,    // a number or a numeric string
  kBoolean,   // a true Lua boolean only
  kCallback,  // a function, a global's name (string or number), or nil
};

bool IsKind(lua_State* state, int index, ArgKind kind);
// Exactly `kinds.size()` arguments, each of its kind.
bool HasArguments(lua_State* state, std::initializer_list<ArgKind> kinds);
// A number argument truncated toward zero to int32 (INT32_MIN when out of range or NaN).
int32_t Int32Arg(lua_State* state, int index);
// A 1-based index argument (strings, images) lowered to DirectOutput's 0-based one, in unsigned 32-bit
// arithmetic: 1 gives 0, 0 gives 0xFFFFFFFF, and so does the INT32_MIN of an unconvertible number less one.
uint32_t ZeroBasedIndexArg(lua_State* state, int index);
// 1 exactly when lua_toboolean gives 1.
uint32_t FlagArg(lua_State* state, int index);

struct DeviceAddress {
  int32_t slot = -1;
  void* handle = nullptr;
};

// The device-call checks, in order, stopping at the first that fails: the manager is open; there are
// exactly as many arguments as `kinds`, each of its kind (argument 1 the tag, 2 the ordinal); (tag,
// ordinal) names a slot; that slot's device is present.
bool ResolveDeviceCall(lua_State* state, std::initializer_list<ArgKind> kinds, DeviceAddress* address);
// The last two checks alone ((tag, ordinal) names a slot whose device is present), for functions that
// check their arguments themselves.
bool ResolvePresentDevice(lua_State* state, DeviceAddress* address);

// Pushes the ResultCode of `result`; returns 1, the count of values.
int PushResultCode(lua_State* state, HResult result);

}  // namespace vexlan

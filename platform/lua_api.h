// The Lua 5.1 C API (also LuaJIT's), with C linkage for C++ callers.
#pragma once

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

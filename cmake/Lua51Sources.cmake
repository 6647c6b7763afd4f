# The Lua 5.1 sources from Debian's lua5.1 source package, unpacked by scripts/setup.sh: lua_sources
# lists the core and the standard libraries; LUA51_SOURCE_DIR also holds lua.c, the interpreter.
set(LUA51_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/lua5.1/src" CACHE PATH "Lua 5.1 sources")
if(NOT EXISTS "${LUA51_SOURCE_DIR}/lua.h")
  message(FATAL_ERROR "Lua 5.1 sources not found in ${LUA51_SOURCE_DIR}; run scripts/setup.sh")
endif()
set(lua_core lapi lcode ldebug ldo ldump lfunc lgc llex lmem lobject lopcodes lparser lstate
             lstring ltable ltm lundump lvm lzio)
set(lua_libs lauxlib lbaselib ldblib liolib lmathlib loslib ltablib lstrlib loadlib linit)
set(lua_sources)
foreach(name IN LISTS lua_core lua_libs)
  list(APPEND lua_sources "${LUA51_SOURCE_DIR}/${name}.c")
endforeach()

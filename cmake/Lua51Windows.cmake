# Lua 5.1 for Windows, built from Debian's lua5.1 source package (unpacked by scripts/setup.sh):
# lua51.dll and the stand-alone interpreter lua.exe, both at the top of the build folder.
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
add_library(lua51 SHARED ${lua_sources})
set_target_properties(lua51 PROPERTIES PREFIX "" OUTPUT_NAME lua51 C_VISIBILITY_PRESET default)
target_compile_definitions(lua51 PUBLIC LUA_BUILD_AS_DLL)
target_include_directories(lua51 PUBLIC "${LUA51_SOURCE_DIR}")
target_compile_options(lua51 PRIVATE -w)

add_executable(lua "${LUA51_SOURCE_DIR}/lua.c")
target_link_libraries(lua PRIVATE lua51)
target_compile_options(lua PRIVATE -w)
add_library(Lua::Lua ALIAS lua51)

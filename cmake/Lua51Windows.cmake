# Lua 5.1 for Windows, built from Debian's lua5.1 source package (unpacked by scripts/setup.sh):
# lua51.dll and the stand-alone interpreter lua.exe, both at the top of the build folder.
include(${CMAKE_CURRENT_LIST_DIR}/Lua51Sources.cmake)
add_library(lua51 SHARED ${lua_sources})
set_target_properties(lua51 PROPERTIES PREFIX "" OUTPUT_NAME lua51 C_VISIBILITY_PRESET default)
target_compile_definitions(lua51 PUBLIC LUA_BUILD_AS_DLL)
target_include_directories(lua51 PUBLIC "${LUA51_SOURCE_DIR}")
target_compile_options(lua51 PRIVATE -w)

add_executable(lua "${LUA51_SOURCE_DIR}/lua.c")
target_link_libraries(lua PRIVATE lua51)
target_compile_options(lua PRIVATE -w)
add_library(Lua::Lua ALIAS lua51)

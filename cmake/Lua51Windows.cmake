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

# The same Lua on another C run-time, msvcr120.dll instead of msvcrt.dll, in the folder msvcr120/: it
# stands in for the many hosts built with Microsoft's compiler, whose standard input, descriptors and
# locale are not the module's. The tests load the module into it as into the others.
set(VEXLAN_MSVCR120_HOST_DIR "${CMAKE_BINARY_DIR}/msvcr120")
add_library(lua51_msvcr120 SHARED ${lua_sources})
add_executable(lua_msvcr120 "${LUA51_SOURCE_DIR}/lua.c")
foreach(target lua51_msvcr120 lua_msvcr120)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${VEXLAN_MSVCR120_HOST_DIR}"
                                             LIBRARY_OUTPUT_DIRECTORY "${VEXLAN_MSVCR120_HOST_DIR}")
  target_compile_definitions(${target} PRIVATE __MSVCRT_VERSION__=0x1200)
  target_compile_options(${target} PRIVATE -w)
  target_link_libraries(${target} PRIVATE msvcr120)  # ahead of the default msvcrt, so its symbols win
endforeach()
set_target_properties(lua51_msvcr120 PROPERTIES PREFIX "" OUTPUT_NAME lua51 C_VISIBILITY_PRESET default
                                                ARCHIVE_OUTPUT_DIRECTORY "${VEXLAN_MSVCR120_HOST_DIR}")
target_compile_definitions(lua51_msvcr120 PUBLIC LUA_BUILD_AS_DLL)
target_include_directories(lua51_msvcr120 PUBLIC "${LUA51_SOURCE_DIR}")
set_target_properties(lua_msvcr120 PROPERTIES OUTPUT_NAME lua)
target_link_libraries(lua_msvcr120 PRIVATE lua51_msvcr120)

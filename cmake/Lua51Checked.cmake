# Lua 5.1 for the Linux sanitizer builds, from Debian's lua5.1 source package (unpacked by scripts/setup.sh),
# compiled with the build's sanitizer flags and with the C API's argument checks on (LUA_USE_APICHECK: a
# misuse of the API by a module asserts instead of corrupting the state). The stock lua5.1 cannot host
# ThreadSanitizer, and its Lua is neither instrumented nor checked.
#
#   lua51_checked       static library of the core and the standard libraries
#   lua51_checked_host  links all of it into an executable and exports the Lua API from it, so that the
#                       modules it loads (vexlan.so, vexlan_sim.so) find the API there
#   lua5.1-checked      the stand-alone interpreter, at the top of the build folder; like the stock one it
#                       exports all its symbols (-Wl,-E)
include(${CMAKE_CURRENT_LIST_DIR}/Lua51Sources.cmake)

# Debian's luaconf.h includes a header that its packaging writes, naming the multiarch library folder
# (used only in the default package.cpath).
set(lua_generated "${CMAKE_BINARY_DIR}/lua51_checked")
set(lua_multiarch "${CMAKE_LIBRARY_ARCHITECTURE}")
if(lua_multiarch STREQUAL "")
  set(lua_multiarch "${CMAKE_SYSTEM_PROCESSOR}-linux-gnu")
endif()
file(CONFIGURE OUTPUT "${lua_generated}/lua5.1-deb-multiarch.h"
     CONTENT "#define DEB_HOST_MULTIARCH \"${lua_multiarch}\"\n")

# The POSIX features, as Debian builds them; but Lua's errors then jump with _longjmp, which
# ThreadSanitizer does not intercept (it loses track of the stack, and a loop of errors caught by pcall
# crashes it), so under it Lua uses longjmp.
if(VEXLAN_SANITIZER STREQUAL "thread")
  set(lua_definitions LUA_USE_MKSTEMP LUA_USE_ISATTY LUA_USE_POPEN)
else()
  set(lua_definitions LUA_USE_POSIX)
endif()
# The checks are assert()s: keep them whatever the build type's flags say about NDEBUG.
list(APPEND lua_definitions LUA_USE_DLOPEN LUA_USE_APICHECK)

add_library(lua51_checked STATIC ${lua_sources})
target_compile_definitions(lua51_checked PRIVATE ${lua_definitions})
target_compile_options(lua51_checked PRIVATE -UNDEBUG -w)
target_include_directories(lua51_checked PRIVATE "${LUA51_SOURCE_DIR}" "${lua_generated}")
target_link_libraries(lua51_checked PUBLIC m ${CMAKE_DL_LIBS})
if(VEXLAN_SANITIZER STREQUAL "address")
  # Lua 5.1 turns numbers into integers with a plain C cast (lua_number2int), out of range too, by design
  # ("truncated in some non-specified way"); UBSan's other checks stay on for Lua, and all for the module.
  target_compile_options(lua51_checked PRIVATE -fno-sanitize=float-cast-overflow)
endif()

# Only the Lua API is exported: the C++ suites also hold the module's own objects, which must not
# interpose on the copies inside the vexlan.so they load.
add_library(lua51_checked_host INTERFACE)
target_link_libraries(lua51_checked_host INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,lua51_checked>")
target_link_options(lua51_checked_host INTERFACE
  "LINKER:--export-dynamic-symbol=lua_*" "LINKER:--export-dynamic-symbol=luaL_*")

add_executable(lua5.1-checked "${LUA51_SOURCE_DIR}/lua.c")
target_compile_definitions(lua5.1-checked PRIVATE ${lua_definitions})
target_compile_options(lua5.1-checked PRIVATE -UNDEBUG -w)
target_include_directories(lua5.1-checked PRIVATE "${LUA51_SOURCE_DIR}" "${lua_generated}")
target_link_libraries(lua5.1-checked PRIVATE lua51_checked_host)
# Linked as C++, so the sanitizer runtimes include their C++ parts (operator new and delete, UBSan's vptr
# checks) for the C++ modules it loads.
set_target_properties(lua5.1-checked PROPERTIES ENABLE_EXPORTS ON LINKER_LANGUAGE CXX)

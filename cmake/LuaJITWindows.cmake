# LuaJIT 2.1 for Windows, from Debian's luajit source package (unpacked by scripts/setup.sh): luajit.exe and
# its lua51.dll, built by LuaJIT's own makefile with the MinGW-w64 cross-compiler in a copy of the sources
# under build/windows/luajit. Many 64-bit hosts embed LuaJIT under that DLL name; the release's test loads
# the module into it.
set(LUAJIT_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/luajit" CACHE PATH "LuaJIT sources")
if(NOT EXISTS "${LUAJIT_SOURCE_DIR}/src/luajit.h")
  message(FATAL_ERROR "LuaJIT sources not found in ${LUAJIT_SOURCE_DIR}; run scripts/setup.sh")
endif()
set(luajit_copy "${CMAKE_BINARY_DIR}/luajit")
add_custom_command(
  OUTPUT "${luajit_copy}/src/luajit.exe" "${luajit_copy}/src/lua51.dll"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${luajit_copy}"
  COMMAND "${CMAKE_COMMAND}" -E copy_directory "${LUAJIT_SOURCE_DIR}" "${luajit_copy}"
  COMMAND make -C "${luajit_copy}/src" HOST_CC=gcc CROSS=x86_64-w64-mingw32- TARGET_SYS=Windows BUILDMODE=dynamic
          > "${CMAKE_BINARY_DIR}/luajit-build.log" 2>&1
  COMMENT "Building LuaJIT for Windows")
add_custom_target(luajit_windows ALL DEPENDS "${luajit_copy}/src/luajit.exe" "${luajit_copy}/src/lua51.dll")
set(VEXLAN_LUAJIT_WINDOWS_DIR "${luajit_copy}/src")

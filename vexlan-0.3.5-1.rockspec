-- Builds and installs the module `vexlan` and the simulated DirectOutput library `vexlan_sim` with
-- `luarocks make` (Lua 5.1; Debian 12 packages: cmake, g++ or clang, liblua5.1-0-dev, libgdk-pixbuf-2.0-dev,
-- libstb-dev, libmicrohttpd-dev, fonts-dejavu-core, whose DejaVu Sans is built into the canvas). On Linux,
-- `vexlan` finds DirectOutput through VEXLAN_DIRECTOUTPUT or /etc/vexlan/DirectOutput; point it at the
-- installed vexlan_sim.so to run scripts against simulated devices.
rockspec_format = "3.0"
package = "vexlan"
version = "0.3.5-1"
source = { url = "git+file://." }
description = {
  summary = "Lua scripts drive flight-simulation panels: display pages, LEDs, strings, pictures, soft buttons",
  detailed = [[
A Lua 5.1 module in C++ for the output side of the X52 Pro and the Flight Instrument Panel through the
DirectOutput run-time library, with a simulated library (vexlan_sim) for developing scripts without the
hardware.]],
  license = "Proprietary",
}
dependencies = { "lua == 5.1" }
build = {
  type = "cmake",
  variables = {
    CMAKE_BUILD_TYPE = "Release",
    VEXLAN_TESTS = "OFF",
    VEXLAN_LUA_CMOD_DIR = "$(LIBDIR)",
    VEXLAN_LUA_LMOD_DIR = "$(LUADIR)",
  },
}

#!/usr/bin/env bash
# Installs the rock with `luarocks make` into a temporary tree and requires both modules from there, as a
# Lua user on Linux would, against a script that addresses the simulated devices.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
cd "$root"
luarocks --lua-version 5.1 make --tree "$tree" vexlan-*.rockspec >"$tree/make.log" 2>&1 || { cat "$tree/make.log"; exit 1; }
modules="$tree/lib/lua/5.1"
LUA_CPATH="$modules/?.so" LUA_PATH="$tree/share/lua/5.1/?.lua" VEXLAN_DIRECTOUTPUT="$modules/vexlan_sim.so" VEXLAN_SIM_DEVICES=X52P,SFIP lua5.1 -e '
  local vexlan, sim = require "vexlan", require "vexlan_sim"
  assert(package.loaded.vexlan and vexlan.GetVersion() == "0.3.5", "vexlan from the tree")
  assert(vexlan.GetNumDevices() == 2, "the simulated devices")
  assert(vexlan.AddPage("SFIP", 1, 1, true) == 0 and vexlan.SetString("SFIP", 1, 1, 1, "rock") == 0)
  assert(sim.string(2, 1, 0) == "rock", "the installed simulator holds what was sent")
  local cockpit = require "vexlan.cockpit"
  assert(cockpit.device("SFIP", 1):set_string(1, 2, "layer") == 0 and sim.string(2, 1, 1) == "layer", "the layer")
  local canvas = require "vexlan.canvas"
  local _, width = canvas.new():text(0, 0, "270°", 0xffffff, 20)
  assert(width > 30, "the canvas draws with its built-in font")
  print("1 passed, 0 failed")'
test -f "$tree/share/lua/5.1/vexlan/DejaVu-LICENSE.txt" || { echo "the font's licence is not installed"; exit 1; }

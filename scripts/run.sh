#!/usr/bin/env bash
# Runs a Lua script against simulated devices:  scripts/run.sh SCRIPT.lua [ARGS...]
# Environment: VEXLAN_SIM_DEVICES (default "X52P,SFIP") chooses the attached devices;
# VEXLAN_INTERPRETER (default lua5.1; luajit works too) the interpreter.
# Installs what is missing and builds the Linux configuration first (Debian 12, as root).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ $# -ge 1 ] || { echo "usage: scripts/run.sh SCRIPT.lua [ARGS...]" >&2; exit 2; }
script="$1"; shift
bash "$root/scripts/setup.sh" >&2
(cd "$root" && cmake --preset linux >/dev/null && cmake --build --preset linux --target vexlan vexlan_sim >/dev/null)
export LUA_CPATH="$root/build/linux/?.so;${LUA_CPATH:-;;}"
export VEXLAN_DIRECTOUTPUT="$root/build/linux/vexlan_sim.so"
exec "${VEXLAN_INTERPRETER:-lua5.1}" "$script" "$@"

#!/usr/bin/env bash
# The Windows release as a user installs it: makes the zip, unpacks it into a fresh Wine prefix, follows
# the install guide's steps literally (the .reg file for C:\vexlan, the DLL beside the host's .exe) and
# runs an example and the guide's own test in two hosts: Lua 5.1's lua.exe and LuaJIT's luajit.exe, each
# with its own lua51.dll. Also checks what the DLLs import.
#   test_windows_zip.sh WINDOWS_BUILD_FOLDER LUAJIT_FOLDER
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build=$1 luajit=$2
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
passed=0 failed=0
check() {  # what, condition...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $what" >&2; fi
}

# The module imports nothing but lua51.dll and the system's DLLs.
imports=$(x86_64-w64-mingw32-objdump -p "$build/vexlan.dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort)
unexpected=$(grep -v -x -E 'lua51\.dll|kernel32\.dll|user32\.dll|gdi32\.dll|gdiplus\.dll|ole32\.dll|oleaut32\.dll|advapi32\.dll|setupapi\.dll|hid\.dll|dinput8\.dll|msvcrt\.dll|api-ms-win-[a-z0-9-]+\.dll' <<<"$imports" || true)
check "vexlan.dll imports only lua51.dll and system DLLs (also: $unexpected)" test -z "$unexpected"
check "vexlan.dll imports lua51.dll" grep -q -x 'lua51\.dll' <<<"$imports"

zip=$(VEXLAN_RELEASE_BUILD="$build" bash "$root/scripts/release.sh") || exit 1
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
drive_c="$WINEPREFIX/drive_c"
unzip -q "$root/$zip" -d "$work/unpacked"
mv "$work"/unpacked/vexlan-* "$drive_c/vexlan"  # unpacked to C:\vexlan, as the guide suggests for the .reg file
wine regedit /S 'C:\vexlan\use-simulator.reg' >/dev/null 2>&1

# Host 1: Lua 5.1, whose files go beside the unpacked release in C:\vexlan (registered by the .reg file).
cp "$build/lua.exe" "$build/lua51.dll" "$drive_c/vexlan/"
# Host 2: LuaJIT in C:\luajit; the release unpacked beside luajit.exe, registered by use-simulator.cmd.
mkdir -p "$drive_c/luajit"
cp "$luajit/luajit.exe" "$luajit/lua51.dll" "$drive_c/luajit/"
cp -r "$drive_c"/vexlan/vexlan*.dll "$drive_c"/vexlan/vexlan "$drive_c"/vexlan/use-simulator.cmd "$drive_c"/vexlan/examples "$drive_c/luajit/"
for host in 'vexlan\lua.exe' 'luajit\luajit.exe'; do
  [ "$host" = 'luajit\luajit.exe' ] && wine cmd /c 'C:\luajit\use-simulator.cmd' >/dev/null 2>&1
  folder="$drive_c/${host%%\\*}"
  guide=$(cd "$folder" && VEXLAN_SIM_DEVICES=X52P,SFIP wine "C:\\$host" -e \
    'local vexlan = require "vexlan" print(vexlan.GetVersion()) print(vexlan.GetNumDevices())
     print(require("vexlan.cockpit")._VERSION)' </dev/null 2>&1 | tr -d '\r')
  check "$host: the guide's test (got: $guide)" test "$guide" = "$(printf '0.3.5\t0\t3\t5\t0\n2\n0.3.5')"
  session=$(cd "$folder" && VEXLAN_SIM_DEVICES=X52P,SFIP wine "C:\\$host" 'examples\simulated_session.lua' </dev/null 2>&1 | tr -d '\r')
  check "$host: the example drives the simulated panel (got: $session)" \
    grep -q -x "$(printf 'the panel shows:\tbuttons 5')" <<<"$session"
  check "$host: the example's picture reaches the panel" grep -q -x "$(printf 'image bytes on the panel:\t230400')" <<<"$session"
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

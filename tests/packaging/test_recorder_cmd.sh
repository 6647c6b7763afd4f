#!/usr/bin/env bash
# use-recorder.cmd as a user runs it, in this build's Wine prefix: "on" puts the recording library in the
# module's registry value and keeps the real one's path, a host then writes a trace, "on" again changes
# nothing, "off" puts the real library back. The prefix's value is restored at the end.
#   test_recorder_cmd.sh WINDOWS_BUILD_FOLDER
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build=$1
run() { "$build/wine-run.sh" "$@"; }
key='HKLM\SOFTWARE\Vexlan\DirectOutput'
value() { run reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n 's/^ *'"$1"' *REG_SZ *//p'; }
sim='Z:'"$build"'/vexlan_sim.dll'
sim=${sim//\//\\}
trap 'run reg add "$key" /v DirectOutput /t REG_SZ /d "$sim" /f >/dev/null 2>&1' EXIT
passed=0 failed=0
check() {  # what, condition...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $what" >&2; fi
}

cp "$root/packaging/windows/use-recorder.cmd" "$build/use-recorder.cmd"
cmd='Z:'"$build"'/use-recorder.cmd'
cmd=${cmd//\//\\}
recorder=${sim%vexlan_sim.dll}vexlan_recorder.dll
trace="$build/recorder-cmd.trace"
rm -f "$trace"
run reg add "$key" /v DirectOutput /t REG_SZ /d "$sim" /f >/dev/null 2>&1
run reg delete "$key" /v RecordedLibrary /f >/dev/null 2>&1

run cmd /c "$cmd" on "Z:${trace//\//\\}" >/dev/null 2>&1
check "on: the module loads the recorder" test "$(value DirectOutput)" = "$recorder"
check "on: the real library is kept" test "$(value RecordedLibrary)" = "$sim"
run cmd /c "$cmd" on >/dev/null 2>&1
check "on twice: the real library is still kept" test "$(value RecordedLibrary)" = "$sim"

printf 'x' | VEXLAN_SIM_DEVICES=X52P,SFIP run "$build/lua.exe" -e '
  package.cpath = [[Z:'"${build//\//\\}"'\?.dll;]] .. package.cpath
  local vexlan = require "vexlan"
  assert(vexlan.GetNumDevices() == 2, "the devices of the simulated library behind the recorder")
  assert(vexlan.SetString("SFIP", 1, 1, 1, "x") ~= nil)' >/dev/null 2>&1
check "a host through the recorder sees the devices" test $? = 0
check "the trace is written" grep -q ' call Initialize text="LuaVexlanLib" -> 0x00000000' "$trace"
check "the trace ends with Deinitialize" grep -q ' call Deinitialize -> 0x00000000' "$trace"

run cmd /c "$cmd" off >/dev/null 2>&1
check "off: the real library is back" test "$(value DirectOutput)" = "$sim"
check "off: nothing kept" test -z "$(value RecordedLibrary)"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

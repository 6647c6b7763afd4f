#!/usr/bin/env bash
# Runs a Lua script against simulated devices. See usage below, or scripts/run.sh --help.
# Installs what is missing and builds first (Debian 12, as root).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

usage() {
  cat <<'EOF'
usage: scripts/run.sh [options] SCRIPT.lua [ARGS...]

Runs SCRIPT.lua with `require "vexlan"` against simulated devices. What the panels show is written as
PNG files (one per device and page, overwritten as it changes) and as lines of text on standard error
and in OUTPUT/panels.log; a summary of every device follows when the script ends.

options:
  -d, --devices TAGS      devices attached at start, comma-separated: tags of `require "vexlan.kinds"`
                          (UNKN: a device of another type); default X52P,SFIP. They get the ids 1, 2,
                          ... in this order.
  -s, --scenario FILE     plays FILE while the script runs: plugging, buttons, pages and characters for
                          Listen, each at its time (see docs/reference.md, "Scenarios")
  -o, --output DIR        where the PNG files and panels.log go (default ./vexlan-out)
  -i, --interpreter NAME  lua5.1 (default), luajit, or wine: the Windows build's lua.exe under Wine
  -g, --grace SECONDS     how long the script may run on after the scenario ends (default 5)
      --sequence          also keep every picture sent, as numbered PNG files
      --record TRACE      records the session into TRACE through the recording library (docs/reference.md,
                          "Recording and replaying a session")
      --replay TRACE      plays TRACE's device events at their times, answers each call as it was answered
                          then, and reports the script's first call that differs (exit status 1); with -s,
                          only the scenario's key lines are played, as standard input is not in a trace
  -w, --web PORT          serves the panels live on http://127.0.0.1:PORT/ (0: any free port; the
                          address is printed at start): see them change, press their soft buttons,
                          turn pages, plug and unplug devices while the script runs; without a
                          scenario, characters typed on the page reach the script's standard input
                          (Linux interpreters)
  -q, --quiet             no panel text on standard error (panels.log still has it)
  -h, --help              this text

The run ends when the script returns. With a scenario, standard input belongs to the scenario: it ends
with the scenario, and a script still running GRACE seconds later is stopped (exit status 124).
EOF
}

fail() {
  echo "run.sh: $*" >&2
  exit 2
}

devices=X52P,SFIP devices_given=0 scenario= output=./vexlan-out interpreter=lua5.1 grace=5 sequence=0 quiet=0 web= record= replay=
while [ $# -gt 0 ]; do
  case "$1" in
    -d | --devices) [ $# -ge 2 ] || fail "$1 needs a value"; devices=$2; devices_given=1; shift 2 ;;
    -s | --scenario) [ $# -ge 2 ] || fail "$1 needs a value"; scenario=$2; shift 2 ;;
    -o | --output) [ $# -ge 2 ] || fail "$1 needs a value"; output=$2; shift 2 ;;
    -i | --interpreter) [ $# -ge 2 ] || fail "$1 needs a value"; interpreter=$2; shift 2 ;;
    -g | --grace) [ $# -ge 2 ] || fail "$1 needs a value"; grace=$2; shift 2 ;;
    --sequence) sequence=1; shift ;;
    --record) [ $# -ge 2 ] || fail "$1 needs a value"; record=$2; shift 2 ;;
    --replay) [ $# -ge 2 ] || fail "$1 needs a value"; replay=$2; shift 2 ;;
    -w | --web) [ $# -ge 2 ] || fail "$1 needs a value"; web=$2; shift 2 ;;
    -q | --quiet) quiet=1; shift ;;
    -h | --help) usage; exit 0 ;;
    --) shift; break ;;
    -*) fail "unknown option $1 (see --help)" ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { usage >&2; exit 2; }
script=$1
shift
[ -f "$script" ] || fail "no such script: $script"
case "$interpreter" in lua5.1 | luajit | wine) ;; *) fail "unknown interpreter $interpreter (lua5.1, luajit or wine)" ;; esac
[[ "$grace" =~ ^[0-9]+([.][0-9]+)?$ ]] || fail "--grace takes seconds, not $grace"
[ -z "$web" ] || { [[ "$web" =~ ^[0-9]{1,5}$ ]] && [ "$web" -le 65535 ]; } || fail "--web takes a port number (0 for any free one), not $web"
[ -z "$scenario" ] || [ -f "$scenario" ] || fail "no such scenario: $scenario"
[ -z "$replay" ] || [ -f "$replay" ] || fail "no such trace: $replay"
[ -z "$record" ] || [ -z "$replay" ] || fail "--record and --replay go one at a time"
mkdir -p "$output" 2>/dev/null && [ -w "$output" ] || fail "cannot write to the output folder $output"

# Builds quietly; shows the build's output only when it fails.
quietly() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    fail "the build failed"
  fi
  rm -f "$log"
}

# The build the script runs with, which also checks the scenario before anything runs. VEXLAN_RUN_BUILD
# and VEXLAN_RUN_WINDOWS_BUILD name build folders to use as they are (the tests use their own).
export VEXLAN_SIM_DEVICES="$devices" VEXLAN_SIM_SEQUENCE="$sequence" VEXLAN_SIM_WEB="$web"
[ "$quiet" = 1 ] && export VEXLAN_SIM_LOG=none || export VEXLAN_SIM_LOG=stderr
output=$(cd "$output" && pwd)
[ -z "$scenario" ] || scenario=$(cd "$(dirname "$scenario")" && pwd)/$(basename "$scenario")
script_path=$(cd "$(dirname "$script")" && pwd)/$(basename "$script")
if [ "$interpreter" = wine ]; then
  build=${VEXLAN_RUN_WINDOWS_BUILD:-}
  if [ -z "$build" ]; then
    quietly bash "$root/scripts/setup.sh"
    quietly cmake -S "$root" --preset windows
    quietly cmake --build "$root/build/windows" --target vexlan vexlan_sim vexlan_recorder lua
    build="$root/build/windows"
  fi
  host_path() { WINEPREFIX="$build/wineprefix" winepath -w "$1" 2>/dev/null; }
  "$build/wine-run.sh" reg add 'HKLM\SOFTWARE\Vexlan\DirectOutput' /v DirectOutput /t REG_SZ \
    /d "$(host_path "$build/vexlan_sim.dll")" /f >/dev/null 2>&1
  lua=("$build/wine-run.sh" "$build/lua.exe")
  library_file() { printf '%s.dll' "$build/$1"; }
else
  build=${VEXLAN_RUN_BUILD:-}
  if [ -z "$build" ]; then
    quietly bash "$root/scripts/setup.sh" run
    quietly cmake -S "$root" --preset run
    quietly cmake --build "$root/build/run" --target vexlan vexlan_sim vexlan_recorder
    build="$root/build/run"
  fi
  host_path() { printf '%s' "$1"; }
  export LUA_CPATH="$build/?.so;${LUA_CPATH:-;;}" LUA_PATH="$build/?.lua;${LUA_PATH:-;;}"
  export VEXLAN_DIRECTOUTPUT="$build/vexlan_sim.so"
  lua=("$interpreter")
  library_file() { printf '%s.so' "$build/$1"; }
fi
export VEXLAN_SIM_OUTPUT="$(host_path "$output")"

# Tags given with --devices are checked against the library's catalogue of device kinds (one more start
# of the interpreter, so only then): a line of the known tags, then "A, B or C" for the message.
check_device_tags() {
  local known_tags tag_choices tag known tags
  { read -r known_tags; read -r tag_choices; } < <("${lua[@]}" -e '
    local tags = require("vexlan.kinds").tags
    print(table.concat(tags, " "))
    print(table.concat(tags, ", ", 1, #tags - 1) .. " or " .. tags[#tags])' </dev/null | tr -d '\r') ||
    fail "the library did not load"
  IFS=, read -r -a tags <<<"$devices"
  for tag in "${tags[@]}"; do
    for known in $known_tags; do [ "$known" = "$tag" ] && continue 2; done
    fail "unknown device tag \"$tag\" in --devices ($tag_choices)"
  done
}
[ "$devices_given" = 0 ] || check_device_tags
[ -z "$record$replay" ] || source "$root/scripts/run-recorder.sh"

scenario_end=
if [ -n "$scenario" ]; then
  scenario_end=$(VEXLAN_CHECK="$(host_path "$scenario")" "${lua[@]}" -e '
    local sim = require "vexlan_sim"
    local ending, problem = sim.check_scenario(os.getenv("VEXLAN_CHECK"))
    if not ending then io.stderr:write("run.sh: ", problem, "\n") os.exit(2) end
    print(ending)' </dev/null | tr -d '\r') || exit 2
  [ -n "$scenario_end" ] || exit 2
  export VEXLAN_SIM_SCENARIO="$(host_path "$scenario")"
fi
run=("${lua[@]}" "$(host_path "$script_path")")

if [ -z "$scenario_end" ] && [ -n "$web" ] && [ "$interpreter" != wine ]; then
  # The script reads this command's input and the characters typed on the page, through one pipe.
  keys=$(mktemp -d)/keys
  mkfifo "$keys"
  export VEXLAN_SIM_WEB_KEYS="$keys"
  exec 3<&0
  cat <&3 >"$keys" &
  feeder=$!
  set +e
  "${run[@]}" "$@" <"$keys" 3<&-
  status=$?
  kill "$feeder" 2>/dev/null
  rm -rf "$(dirname "$keys")"
  exit "$status"
fi
if [ -z "$scenario_end" ]; then
  exec "${run[@]}" "$@"
fi
# The scenario owns standard input; the script may run until the scenario ends and GRACE seconds more.
start_up=1
[ "$interpreter" = wine ] && start_up=15  # Wine takes seconds to start a process
limit=$(awk -v a="$scenario_end" -v b="$grace" -v c="$start_up" 'BEGIN { printf "%.3f", a + b + c }')
set +e
timeout --kill-after=5 "$limit" "${run[@]}" "$@" </dev/null
status=$?
set -e
if [ "$status" = 124 ]; then
  echo "run.sh: the script was still running $grace s after the scenario ended; stopped it" >&2
fi
[ -z "$replay" ] || replay_verdict "$status"
exit "$status"

# Sourced by scripts/run.sh for --record and --replay, once the build is known: puts the recording library
# between the module and the simulated one, and for a replay turns the trace into the scenario it plays.
if [ "$interpreter" = wine ]; then
  "$build/wine-run.sh" reg add 'HKLM\SOFTWARE\Vexlan\DirectOutput' /v DirectOutput /t REG_SZ \
    /d "$(host_path "$(library_file vexlan_recorder)")" /f >/dev/null 2>&1
else
  export VEXLAN_DIRECTOUTPUT="$(library_file vexlan_recorder)"
fi
export VEXLAN_RECORDER_LIBRARY="$(host_path "$(library_file vexlan_sim)")"
if [ -n "$record" ]; then
  record=$(cd "$(dirname "$record")" && pwd)/$(basename "$record")
  export VEXLAN_RECORDER_TRACE="$(host_path "$record")"
else
  replay=$(cd "$(dirname "$replay")" && pwd)/$(basename "$replay")
  replay_report="$output/replay.txt"
  rm -f "$replay_report" "$output/replay.scenario"
  devices=$(VEXLAN_TRACE="$(host_path "$replay")" VEXLAN_KEYS="$([ -z "$scenario" ] || host_path "$scenario")" \
    VEXLAN_OUT="$(host_path "$output/replay.scenario")" "${lua[@]}" -e '
    local keys = os.getenv("VEXLAN_KEYS")
    local scenario, devices = require("vexlan_recorder").scenario(os.getenv("VEXLAN_TRACE"), keys ~= "" and keys or nil)
    if not scenario then io.stderr:write("run.sh: ", devices, "\n") os.exit(2) end
    local file = assert(io.open(os.getenv("VEXLAN_OUT"), "wb"))
    file:write(scenario)
    file:close()
    print(devices)' </dev/null | tr -d '\r') || exit 2
  [ -f "$output/replay.scenario" ] || exit 2
  export VEXLAN_SIM_DEVICES="$devices" VEXLAN_REPLAY_TRACE="$(host_path "$replay")" VEXLAN_SIM_SCENARIO_IN_STEP=1
  export VEXLAN_REPLAY_REPORT="$(host_path "$replay_report")"
  scenario="$output/replay.scenario"
fi

# After a replay: the comparison's result, and exit status 1 for a difference.
replay_verdict() {
  if [ ! -s "$replay_report" ]; then
    echo "replay: the script ended without closing the library: nothing was compared" >&2
    exit 1
  fi
  sed 's/^/replay: /' "$replay_report" >&2
  if grep -q '^first difference' "$replay_report"; then exit 1; fi
  exit "$1"
}

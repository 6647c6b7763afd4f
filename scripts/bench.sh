#!/usr/bin/env bash
# Runs the benchmarks and prints each target as a ratio against its baseline from the same run, using the
# fastest of five repetitions of each, with the bound it must meet.
#   scripts/bench.sh [BENCHMARK_PROGRAM [RUNNER...]]   (default: build/linux/vexlan_bench, built first)
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-}
if [ -z "$program" ]; then
  bash scripts/setup.sh >&2
  cmake --preset linux >/dev/null && cmake --build --preset linux --target vexlan_bench >&2
  program=build/linux/vexlan_bench
fi
shift || true
json=$(mktemp)
trap 'rm -f "$json"' EXIT
# The repetitions of every benchmark are interleaved in a random order, so that a target and its baseline
# meet the same moments of a machine shared with other work.
"$@" "$program" --benchmark_repetitions=5 --benchmark_min_time=0.5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=false \
  --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
python3 - "$json" <<'PY'
import json, sys
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type") == "iteration"]
# The recorder's pairs compare the calling thread's processor time: its writer thread does its work on
# another core, which on a machine shared with other work shows in the real time of both.
ON_CPU = {"BM_FanOutThroughRecorder", "BM_Baseline_FanOutWithoutRecorder", "BM_SetImageThroughRecorder",
          "BM_Baseline_SetImageWithoutRecorder"}
fastest, fastest_cpu = {}, {}
unit = {"ns": 1, "us": 1e3, "ms": 1e6}
for run in runs:
    fastest_cpu[run["run_name"]] = min(fastest_cpu.get(run["run_name"], float("inf")), run["cpu_time"] * unit[run["time_unit"]])
    name = run["run_name"]
    time = run["cpu_time" if name in ON_CPU else "real_time"]
    fastest[name] = min(fastest.get(name, float("inf")), time * {"ns": 1, "us": 1e3, "ms": 1e6}[run["time_unit"]])
pairs = [  # target, baseline, bound
    ("BM_FanOutSoftButtonToTenTrios", "BM_Baseline_ThirtyPcallsWithThreeArguments", 1.15),
    ("BM_FanOutSoftButtonToTenTrios", "BM_Baseline_ThirtyBarePcalls", 1.5),
    ("BM_ConvertRawImage", "BM_Baseline_Memcpy230400", 2.0),
    ("BM_SetImageFromLua", "BM_Baseline_Memcpy230400", 4.0),
    ("BM_SetImageFromFileResized_Png1080", "BM_Baseline_PlatformDecode_Png1080", 1.15),
    ("BM_SetImageFromFileResized_Jpeg1080", "BM_Baseline_PlatformDecode_Jpeg1080", 1.15),
    ("BM_CanvasRawFromLua", "BM_Baseline_Memcpy307224", 1.5),
    ("BM_FanOutThroughRecorder", "BM_Baseline_FanOutWithoutRecorder", 1.10),
    ("BM_SetImageThroughRecorder", "BM_Baseline_SetImageWithoutRecorder", 1.25),
]
print(f"{'target':40} {'ns':>12} {'baseline':40} {'ns':>12} {'ratio':>6} {'bound':>6}")
for target, baseline, bound in pairs:
    if target in fastest and baseline in fastest:
        ratio = fastest[target] / fastest[baseline]
        mark = "" if ratio <= bound else "  over"
        print(f"{target:40} {fastest[target]:12.0f} {baseline:40} {fastest[baseline]:12.0f} {ratio:6.2f} {bound:6.2f}{mark}")
rates = [  # target, frames per second of processor time it must reach
    ("BM_CanvasGaugeFrameFromLua", 1000),
    ("BM_CanvasSmoothGaugeFrameFromLua", 2000),
    ("BM_CanvasTurnedCardFromLua", 1000),
]
for target, bound in rates:
    if target in fastest_cpu:
        rate = 1e9 / fastest_cpu[target]
        mark = "" if rate >= bound else "  under"
        print(f"{target:40} {fastest_cpu[target]:12.0f} {'frames per second':40} {rate:12.0f} {'':6} {bound:6}{mark}")
counters = {}
for run in runs:
    for key, value in run.items():
        if "allocs_per_" in key:
            counters[(run["run_name"], key)] = max(counters.get((run["run_name"], key), 0), value)
for (name, key), value in counters.items():
    print(f"{name}: {key} = {value:g} (most of the five)")
PY

#!/usr/bin/env bash
# Line coverage of the module's own code reached by each fuzzer's committed corpus (plus any corpus
# folders given as arguments, for every fuzzer): builds the linux-coverage preset, replays every input
# once and prints llvm-cov's report for the module's folders.
#   scripts/fuzz-coverage.sh [EXTRA_CORPUS_DIR...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
fuzzers=$(cd fuzz/corpus && for d in */; do [ -n "$(ls -A "$d")" ] && echo "${d%/}"; done)
cmake --preset linux-coverage >/dev/null
# shellcheck disable=SC2086
cmake --build --preset linux-coverage -j "$(nproc)" --target $fuzzers >&2
profiles=build/linux-coverage/profiles
rm -rf "$profiles" && mkdir -p "$profiles"
objects=()  # the first binary, then -object for the others
for fuzzer in $fuzzers; do
  VEXLAN_SIM_DEVICES=X52P,SFIP LLVM_PROFILE_FILE="$profiles/$fuzzer-%p.profraw" \
    "build/linux-coverage/$fuzzer" -runs=0 "fuzz/corpus/$fuzzer" "$@" </dev/null >/dev/null 2>&1
  [ ${#objects[@]} -eq 0 ] && objects+=("build/linux-coverage/$fuzzer") || objects+=(-object "build/linux-coverage/$fuzzer")
done
llvm-profdata-14 merge -sparse "$profiles"/*.profraw -o "$profiles/merged.profdata"
llvm-cov-14 report "${objects[@]}" -instr-profile="$profiles/merged.profdata" \
  module events devices output directoutput platform

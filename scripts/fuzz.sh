#!/usr/bin/env bash
# Runs the fuzz targets longer than the test suite does: each for MINUTES minutes, two at a time (one a
# core), from its seed corpus and what earlier runs found; prints each one's executions and coverage, keeps
# any finding in build/fuzz/long, and merges the inputs that reach new code into the seed corpus
# (tests/fuzz/corpus), minimised. Exits 1 when anything was found.
#   bash scripts/fuzz.sh MINUTES [READER...]     (readers: the folders of tests/fuzz/corpus, every one
#                                                 when none is named)
set -euo pipefail
minutes=${1:?usage: bash scripts/fuzz.sh MINUTES [READER...]}
shift
readers=("$@")
cd "$(dirname "$0")/.."
# Every target has a seed folder of its own (tests/fuzz/CMakeLists.txt runs each from it), so the folders
# name every target, the ones added later too.
if [ ${#readers[@]} -eq 0 ]; then
    for seeds in tests/fuzz/corpus/*/; do
        readers+=("$(basename "$seeds")")
    done
fi
bash scripts/deps.sh
bash scripts/configure.sh
cmake --build build/fuzz -j "$(nproc)" >/dev/null
# A reader is a target that was built and has its seeds; anything else is a wrong name, not a finding.
for reader in "${readers[@]}"; do
    [[ $reader =~ ^[a-z0-9_]+$ && -d tests/fuzz/corpus/$reader && -x build/fuzz/fuzz/fuzz_$reader ]] ||
        { echo "fuzz.sh: no fuzz target reads $reader (targets: tests/fuzz/CMakeLists.txt, seeds: tests/fuzz/corpus)" >&2; exit 2; }
done
long=build/fuzz/long
mkdir -p "$long"

fuzz() {
    local reader=$1 fuzzer=build/fuzz/fuzz/fuzz_$1
    mkdir -p "$long/$reader"
    if ! "$fuzzer" -max_total_time=$((minutes * 60)) -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
        -print_final_stats=1 -dict=tests/fuzz/formats.dict -artifact_prefix="$long/$reader-" \
        "$long/$reader" "tests/fuzz/corpus/$reader" >"$long/$reader.log" 2>&1; then
        echo "fuzz_$reader: FINDING, see $long/$reader.log and $long/$reader-*"
        return 1
    fi
    "$fuzzer" -merge=1 -max_len=16384 "tests/fuzz/corpus/$reader" "$long/$reader" >/dev/null 2>&1
    echo "fuzz_$reader: $(sed -n 's/^stat::number_of_executed_units: *//p' "$long/$reader.log") executions in" \
         "$minutes min, $(grep -o 'cov: [0-9]* ft: [0-9]*' "$long/$reader.log" | tail -1), no finding;" \
         "$(ls "tests/fuzz/corpus/$reader" | wc -l) seeds now"
}

status=0
running=0
for reader in "${readers[@]}"; do
    fuzz "$reader" &
    running=$((running + 1))
    if [ "$running" -ge "$(nproc)" ]; then
        wait -n || status=1
        running=$((running - 1))
    fi
done
while [ "$running" -gt 0 ]; do
    wait -n || status=1
    running=$((running - 1))
done
exit $status

#!/bin/sh
# Runs one fuzz target for a bounded time from a copy of its seed corpus. A finding (a crash, a sanitizer
# report, a property that does not hold, a hang, running out of memory) fails, printing the input's bytes.
#   run_bounded.sh FUZZER SEEDS DICTIONARY SECONDS
set -u
fuzzer=$1 seeds=$2 dictionary=$3 seconds=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cp "$seeds"/* "$work/corpus/"
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
    -dict="$dictionary" -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1
status=$?
grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb)|^#[0-9]+ +DONE" "$work/log"
found=0
for input in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* "$work"/slow-unit-*; do
    [ -e "$input" ] || continue
    found=1
    echo "finding: $(basename "$input"), $(wc -c <"$input") bytes:"
    od -An -tx1 -v "$input" | head -64
done
if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    grep -E -A30 "ERROR|runtime error|property does not hold|deadly signal" "$work/log" | head -60
    exit 1
fi

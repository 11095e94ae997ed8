#!/usr/bin/env bash
# Benchmarks (figures only, never pass/fail): checksum throughput of each form next to memcpy; the real
# updater applying a generated package next to a plain copy of the same files; the updater's peak resident
# memory; and the native mkupdate building and verifying the package next to cp and cat of the same bytes,
# at two payload sizes.  BENCH_SIZES_MIB overrides the sizes (default "256 1024").
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/configure.sh
cmake --build build/native -j "$(nproc)" --target mkupdate >/dev/null
cmake --build build -j "$(nproc)" --target updater mkupdate user_driver checksum_bench update_bench >/dev/null
prefix="$PWD/build/wineprefix"
sh cmake/wine-prefix.sh setup "$prefix"
trap 'sh cmake/wine-prefix.sh stop "$prefix"' EXIT
run() { build/wine-run "$@" | tr -d '\r'; }
# The user driver looks at the screen every 20 ms, as often as a person could notice anything; at its
# test-suite pace (every 2 ms) its own window queries cost the updater more than its work does.
export BENCH_POLL_MS=20
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
now() { date +%s.%N; }
# Seconds a command takes, its output dropped.
seconds() {
    local start
    start=$(now)
    "$@" >/dev/null
    awk -v a="$start" -v b="$(now)" 'BEGIN {printf "%.3f", b - a}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
# Runs the updater through the user driver while watching the peak resident memory (VmHWM) of the
# updater's own process; prints "seconds peak_kib".
measure() {
    run build/tests/user_driver.exe bench-run 'C:\bench\update.exe' >"$work/line" &
    local driver=$! peak=0 pid hwm
    while kill -0 "$driver" 2>/dev/null; do
        for pid in $(pgrep -f 'bench.update\.exe' || true); do
            hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
            [ "${hwm:-0}" -gt "$peak" ] && peak=$hwm
        done
        sleep 0.02
    done
    wait "$driver"
    echo "$(sed -n 's/.*update_seconds=\([0-9.]*\).*/\1/p' "$work/line") $peak"
}
work=$(mktemp -d)

# A virtual machine may back guest memory only when it is first written, which makes whichever run first
# fills fresh page-cache pages several times slower (measured here: the same 1 GiB update took 1.6 s or 4 s).
# Write as much memory as the runs will (at most half of what is available), once, so that the runs below
# meet memory already backed.
python3 -c "
available = int(next(l.split()[1] for l in open('/proc/meminfo') if l.startswith('MemAvailable'))) * 1024
b = bytearray(min(12 << 30, available // 2))
b[::4096] = b'\x01' * len(b[::4096])
" 2>/dev/null || true
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB"
echo
run build/checksum_bench.exe

drive="$prefix/drive_c"
native=()
echo
printf '%-10s %12s %11s %15s %8s %7s %16s %7s %14s %14s %12s\n' payload "updater (s)" "engine (s)" \
    "updater/engine" "cp (s)" ratio "cp, then mv (s)" ratio "updater peak" "cp, sync (s)" "engine ratio"
for mib in ${BENCH_SIZES_MIB:-256 1024}; do
    run build/tests/user_driver.exe bench-prepare 'C:\bench' "$mib" >/dev/null
    build/native/mkupdate build --quiet --image build/updater.exe --title "Benchmark Updater" \
        --files "$drive/bench/ship" --output "$drive/bench/update.exe" >/dev/null
    cat "$drive/bench/update.exe" "$drive"/bench/ship/Archive/* >/dev/null  # into the page cache
    updater=(); peaks=(); copies=(); safe=(); engine=(); durable=()
    for rep in 1 2 3 4 5 6; do
        # Each measurement starts with no dirty pages of the one before: otherwise whichever runs second
        # waits for the first one's writeback.
        sync
        read -r seconds peak < <(measure)
        [ "$rep" = 1 ] && continue  # warm-up
        updater+=("$seconds"); peaks+=("$peak")
        sync
        engine+=("$(run build/update_bench.exe 'C:\bench\update.exe' 'C:\bench\game' | sed -n 's/engine_seconds=\([0-9.]*\).*/\1/p')")
        # Like the updater after its warm-up run, cp replaces files that are already there.
        mkdir -p "$drive/bench/copy/Archive"
        sync
        start=$(now)
        cp "$drive"/bench/ship/Archive/* "$drive/bench/copy/Archive/"
        copies+=("$(awk -v a="$start" -v b="$(now)" 'BEGIN {printf "%.3f", b - a}')")
        # What durability costs: the engine flushes every file before it renames any, so compare it with a
        # copy that reaches the disk too.
        sync
        start=$(now)
        cp "$drive"/bench/ship/Archive/* "$drive/bench/copy/Archive/"
        sync
        durable+=("$(awk -v a="$start" -v b="$(now)" 'BEGIN {printf "%.3f", b - a}')")
        # The updater's own pattern, natively: every file copied beside its target, then all renamed over.
        sync
        start=$(now)
        for f in "$drive"/bench/ship/Archive/*; do
            cp "$f" "$drive/bench/copy/Archive/$(basename "$f").tmp"
        done
        for f in "$drive"/bench/ship/Archive/*; do
            mv -f "$drive/bench/copy/Archive/$(basename "$f").tmp" "$drive/bench/copy/Archive/$(basename "$f")"
        done
        safe+=("$(awk -v a="$start" -v b="$(now)" 'BEGIN {printf "%.3f", b - a}')")
    done
    # The package builder on the build server: build against cp of the same files into a new folder, verify
    # against cat of the same file into /dev/null.
    builds=(); cps=(); verifies=(); cats=()
    for rep in 1 2 3 4 5 6; do
        rm -rf "$drive/bench/built.exe" "$drive/bench/cp"
        sync
        b=$(seconds build/native/mkupdate build --quiet --image build/updater.exe --title "Benchmark Updater" \
            --files "$drive/bench/ship" --output "$drive/bench/built.exe")
        mkdir -p "$drive/bench/cp"
        sync
        c=$(seconds cp -r "$drive/bench/ship/Archive" "$drive/bench/cp/")
        sync
        v=$(seconds build/native/mkupdate verify "$drive/bench/built.exe")
        k=$(seconds cat "$drive/bench/built.exe")
        [ "$rep" = 1 ] && continue  # warm-up
        builds+=("$b"); cps+=("$c"); verifies+=("$v"); cats+=("$k")
    done
    b=$(printf '%s\n' "${builds[@]}" | median); c=$(printf '%s\n' "${cps[@]}" | median)
    v=$(printf '%s\n' "${verifies[@]}" | median); k=$(printf '%s\n' "${cats[@]}" | median)
    native+=("$(printf '%-10s %10s %8s %7s %11s %8s %7s' "${mib} MiB" "$b" "$c" "$(ratio "$b" "$c")" "$v" "$k" \
                "$(ratio "$v" "$k")")")
    u=$(printf '%s\n' "${updater[@]}" | median)
    c=$(printf '%s\n' "${copies[@]}" | median)
    m=$(printf '%s\n' "${safe[@]}" | median)
    g=$(printf '%s\n' "${engine[@]}" | median)
    d=$(printf '%s\n' "${durable[@]}" | median)
    p=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)
    printf '%-10s %12s %11s %15.2f %8s %7.2f %16s %7.2f %10.1f MiB %14s %12.2f\n' "${mib} MiB" "$u" "$g" \
        "$(awk -v u="$u" -v g="$g" 'BEGIN {print u / g}')" "$c" \
        "$(awk -v u="$u" -v c="$c" 'BEGIN {print u / c}')" "$m" "$(awk -v u="$u" -v m="$m" 'BEGIN {print u / m}')" \
        "$(awk -v p="$p" 'BEGIN {print p / 1024}')" "$d" "$(awk -v g="$g" -v d="$d" 'BEGIN {print g / d}')"
done
echo
echo "native mkupdate (build/native/mkupdate), the same files:"
printf '%-10s %10s %8s %7s %11s %8s %7s\n' payload "build (s)" "cp (s)" ratio "verify (s)" "cat (s)" ratio
printf '%s\n' "${native[@]}"
echo
echo "Each measurement starts after a sync; the driver looks at the updater's windows every 20 ms."
echo "updater (s): median of 5 runs from answering Yes to the final box (copy, verify, install, lists);"
echo "engine (s): the same update run in-process without a window (update_bench), median of 5;"
echo "updater/engine: what the window and the process around the engine cost; the two ratios after cp are"
echo "the updater's;"
echo "cp (s): median of 5 plain copies of the same files over earlier copies in a folder of the same file"
echo "system; cp, then mv: every file copied beside its target, then all renamed over the targets, as the"
echo "updater installs; all after a warm-up run, inputs page-cached. Peak: the updater process's VmHWM."
echo "cp, sync: the same copy followed by sync, median of 5; engine ratio: engine (s) over it (the engine"
echo "flushes every file before its first rename and keeps each original aside until the update is in place)."
echo "native mkupdate: build of the package from the shipped files against cp of them into a new folder;"
echo "verify of it against cat of it into /dev/null; medians of 5 after a warm-up, inputs page-cached."
rm -rf "$drive/bench" "$work"

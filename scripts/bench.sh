#!/usr/bin/env bash
# Benchmarks (figures only, never pass/fail): checksum throughput of each form next to memcpy; the real
# updater applying a generated package next to a plain copy of the same files; the updater's peak resident
# memory; and the native mkupdate building and verifying the package next to cp and cat of the same bytes,
# for each payload: eight archives of 256 MiB and of 1 GiB in all, and 240 small archives (60 MiB), where
# the window's work for each entry shows. BENCH_SIZES_MIB overrides them: "MIB" ships eight archives,
# "MIBxFILES" that many (default "256 1024 60x240"). Then the delta codec against xdelta3
# (scripts/delta_bench.py).
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
# The benchmark's user only watches for the boxes (never reads the dialog, whose every reading waits for
# the updater's next pump), every 5 ms: the final box is seen at most 5 ms late, and the looking costs
# the window server about a thousand small requests a second.
export BENCH_POLL_MS=5
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
best() { sort -n | head -1; }
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
drive="$prefix/drive_c"

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB"
# A virtual machine's kernel may hand freed memory back to its host (free page reporting): a run that
# then fills fresh page-cache pages waits for the host to back them, and the same run takes one or three
# times as long. The updater meets it more than cp: it keeps each original until the update is in place,
# so its new files need pages that cp, truncating the old file first, takes from what it just freed.
if [ -r /sys/module/page_reporting/parameters/reported_kib ]; then
    echo "free page reporting: on ($(($(cat /sys/module/page_reporting/parameters/reported_kib) >> 20)) GiB handed back so far); read the best rows as the machine without it"
fi
# BENCH_ONLY=delta-package runs the delta package's part alone, BENCH_ONLY=compress the compressed package's.
if [ -z "${BENCH_ONLY:-}" ]; then
echo
run build/checksum_bench.exe

native=()
echo
printf '%-10s %-6s %12s %11s %15s %8s %7s %16s %7s %14s %14s %12s\n' payload "" "updater (s)" "engine (s)" \
    "updater/engine" "cp (s)" ratio "cp, then mv (s)" ratio "updater peak" "cp, sync (s)" "engine ratio"
for size in ${BENCH_SIZES_MIB:-256 1024 60x240}; do
    mib=${size%x*}
    files=8
    [ "$mib" != "$size" ] && files=${size#*x}
    label="$mib MiB"
    [ "$files" != 8 ] && label="$mib MiB/$files"
    run build/tests/user_driver.exe bench-prepare 'C:\bench' "$mib" "$files" >/dev/null
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
    done
    # The copies in a loop of their own: each measurement follows one of its own kind, as the updater and
    # the engine follow each other (a run that follows one which freed a whole payload meets fresh memory;
    # see the note on free page reporting above).
    for rep in 1 2 3 4 5 6; do
        # Like the updater after its warm-up run, cp replaces files that are already there.
        mkdir -p "$drive/bench/copy/Archive"
        sync
        start=$(now)
        cp "$drive"/bench/ship/Archive/* "$drive/bench/copy/Archive/"
        [ "$rep" = 1 ] && continue  # warm-up
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
    native+=("$(printf '%-10s %10s %8s %7s %11s %8s %7s' "$label" "$b" "$c" "$(ratio "$b" "$c")" "$v" "$k" \
                "$(ratio "$v" "$k")")")
    p=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)
    # The median, and the best run: on a virtual machine that hands freed memory back to its host, a run
    # that fills fresh page-cache pages may wait for the host (see the notes below the table).
    for stat in median best; do
        u=$(printf '%s\n' "${updater[@]}" | $stat)
        c=$(printf '%s\n' "${copies[@]}" | $stat)
        m=$(printf '%s\n' "${safe[@]}" | $stat)
        g=$(printf '%s\n' "${engine[@]}" | $stat)
        d=$(printf '%s\n' "${durable[@]}" | $stat)
        printf '%-10s %-6s %12s %11s %15.2f %8s %7.2f %16s %7.2f %10.1f MiB %14s %12.2f\n' "$label" "$stat" "$u" "$g" \
            "$(awk -v u="$u" -v g="$g" 'BEGIN {print u / g}')" "$c" \
            "$(awk -v u="$u" -v c="$c" 'BEGIN {print u / c}')" "$m" "$(awk -v u="$u" -v m="$m" 'BEGIN {print u / m}')" \
            "$(awk -v p="$p" 'BEGIN {print p / 1024}')" "$d" "$(awk -v g="$g" -v d="$d" 'BEGIN {print g / d}')"
    done
done
echo
echo "native mkupdate (build/native/mkupdate), the same files:"
printf '%-10s %10s %8s %7s %11s %8s %7s\n' payload "build (s)" "cp (s)" ratio "verify (s)" "cat (s)" ratio
printf '%s\n' "${native[@]}"
echo
echo "Each measurement starts after a sync; the driver looks for the updater's boxes every 5 ms."
echo "median, best: of the 5 runs after a warm-up run, each column on its own."
echo "updater (s): from answering Yes to the final box (copy, verify, install, lists);"
echo "engine (s): the same update run in-process without a window (update_bench);"
echo "updater/engine: what the window and the process around the engine cost; the two ratios after cp are"
echo "the updater's;"
echo "cp (s): plain copies of the same files over earlier copies in a folder of the same file"
echo "system; cp, then mv: every file copied beside its target, then all renamed over the targets, as the"
echo "updater installs; all after a warm-up run, inputs page-cached. Peak: the updater process's VmHWM."
echo "cp, sync: the same copy followed by sync; engine ratio: engine (s) over it (the engine"
echo "flushes every file before its first rename and keeps each original aside until the update is in place)."
echo "native mkupdate: build of the package from the shipped files against cp of them into a new folder;"
echo "verify of it against cat of it into /dev/null; medians of 5 after a warm-up, inputs page-cached."
echo
# The delta codec on a corpus of its own: BENCH_DELTA_MIB "256 1024" adds a corpus of 1 GiB (the decoder's
# peak stays the same).
python3 scripts/delta_bench.py build/native/mkupdate "$work" ${BENCH_DELTA_MIB:-256}

fi
if [ -z "${BENCH_ONLY:-}" ] || [ "${BENCH_ONLY:-}" = delta-package ]; then
# The delta package of that corpus against the package of whole files of the same update: their sizes, and
# the real updater applying each to the installed version, side by side (medians of 3 after a warm-up each;
# the installation is put back before every run). BENCH_DELTA_PACKAGE_MIB overrides "256 1024".
echo
echo "delta package: the codec's corpus installed as the earlier version, the next version shipped (two of its"
echo "eight archives unchanged: the delta package leaves them out, the package of whole files carries them)"
printf '%-9s %14s %14s %7s %12s %12s %7s %12s %12s\n' corpus "whole (bytes)" "delta (bytes)" ratio \
    "whole (s)" "delta (s)" ratio "whole peak" "delta peak"
for mib in ${BENCH_DELTA_PACKAGE_MIB:-256 1024}; do
    run build/tests/user_driver.exe bench-prepare 'C:\bench' 1 1 >/dev/null
    python3 scripts/delta_bench.py --corpus "$drive/bench" "$mib"
    build/native/mkupdate build --quiet --image build/updater.exe --title "Benchmark Updater" \
        --files "$drive/bench/ship" --output "$drive/bench/whole.exe" >/dev/null
    build/native/mkupdate build --quiet --image build/updater.exe --title "Benchmark Updater" \
        --files "$drive/bench/ship" --base "$drive/bench/base" --output "$drive/bench/delta.exe" >/dev/null
    wholeTimes=(); deltaTimes=(); wholePeak=0; deltaPeak=0
    for rep in 1 2 3 4; do
        for kind in whole delta; do
            cp "$drive/bench/$kind.exe" "$drive/bench/update.exe"
            run build/tests/user_driver.exe bench-base 'C:\bench' >/dev/null
            cat "$drive/bench/update.exe" "$drive"/bench/game/Archive/* >/dev/null  # into the page cache
            sync
            read -r seconds peak < <(measure)
            [ "$rep" = 1 ] && continue  # warm-up
            if [ "$kind" = whole ]; then
                wholeTimes+=("$seconds"); [ "$peak" -gt "$wholePeak" ] && wholePeak=$peak
            else
                deltaTimes+=("$seconds"); [ "$peak" -gt "$deltaPeak" ] && deltaPeak=$peak
            fi
        done
    done
    w=$(printf '%s\n' "${wholeTimes[@]}" | median); d=$(printf '%s\n' "${deltaTimes[@]}" | median)
    ws=$(stat -c %s "$drive/bench/whole.exe"); ds=$(stat -c %s "$drive/bench/delta.exe")
    printf '%-9s %14s %14s %6.2f%% %12s %12s %7s %8.1f MiB %8.1f MiB\n' "$mib MiB" "$ws" "$ds" \
        "$(awk -v a="$ds" -v b="$ws" 'BEGIN {print 100 * a / b}')" "$w" "$d" "$(ratio "$d" "$w")" \
        "$(awk -v p="$wholePeak" 'BEGIN {print p / 1024}')" "$(awk -v p="$deltaPeak" 'BEGIN {print p / 1024}')"
done
echo "whole, delta (s): the updater from answering Yes to the final box; ratio: delta over whole; peak: VmHWM."
fi

# The compressed package: a corpus of game-like archives (scripts/compress_bench.py states its mix) shipped
# stored and with --compress. Its payload against the sum of `zstd -19` over each archive alone (and `xz -9`
# for reference); the real updater applying each, side by side (medians of 3 after a warm-up each, the
# installation put back before every run) with its peak memory; and what --compress costs the studio's build.
# BENCH_COMPRESS_MIB overrides 128.
if [ -z "${BENCH_ONLY:-}" ] || [ "${BENCH_ONLY:-}" = compress ]; then
echo
echo "compressed package: game-like archives, by bytes 55 % compressed media, 20 % scripts, 15 % raw bitmaps, 10 % PCM"
printf '%-9s %14s %14s %14s %14s %8s %10s %10s %7s %11s %11s %12s %12s\n' corpus "stored (bytes)" "zstd (bytes)" \
    "zstd -19 sum" "xz -9 sum" "vs -19" "stored (s)" "zstd (s)" ratio "stored peak" "zstd peak" "build (s)" "build MB/s"
for mib in ${BENCH_COMPRESS_MIB:-128}; do
    run build/tests/user_driver.exe bench-prepare 'C:\bench' 1 1 >/dev/null
    rm -rf "$drive/bench/ship"
    python3 scripts/compress_bench.py --corpus "$drive/bench" "$mib"
    build/native/mkupdate build --quiet --image build/updater.exe --title "Benchmark Updater" \
        --files "$drive/bench/ship" --output "$drive/bench/stored.exe" >/dev/null
    b=$(seconds build/native/mkupdate build --quiet --image build/updater.exe --title "Benchmark Updater" \
        --files "$drive/bench/ship" --compress --output "$drive/bench/zstd.exe")
    read -r _ zsum _ xsum < <(python3 scripts/compress_bench.py --references "$drive/bench/ship")
    times_stored=(); times_zstd=(); peak_stored=0; peak_zstd=0
    for rep in 1 2 3 4; do
        for kind in stored zstd; do
            cp "$drive/bench/$kind.exe" "$drive/bench/update.exe"
            rm -f "$drive"/bench/game/Archive/*
            cat "$drive/bench/update.exe" >/dev/null  # into the page cache
            sync
            read -r seconds peak < <(measure)
            [ "$rep" = 1 ] && continue  # warm-up
            if [ "$kind" = stored ]; then
                times_stored+=("$seconds"); [ "$peak" -gt "$peak_stored" ] && peak_stored=$peak
            else
                times_zstd+=("$seconds"); [ "$peak" -gt "$peak_zstd" ] && peak_zstd=$peak
            fi
        done
    done
    s=$(printf '%s\n' "${times_stored[@]}" | median); z=$(printf '%s\n' "${times_zstd[@]}" | median)
    ss=$(stat -c %s "$drive/bench/stored.exe"); zs=$(stat -c %s "$drive/bench/zstd.exe")
    # The payloads: each package less its image and title block.
    sp=$((ss - 0xA0400)); zp=$((zs - 0xA0400))
    content=$(du -sb "$drive/bench/ship" | cut -f1)
    printf '%-9s %14s %14s %14s %14s %8.3f %10s %10s %7s %7.1f MiB %7.1f MiB %12s %12.1f\n' "$mib MiB" "$sp" "$zp" "$zsum" \
        "$xsum" "$(awk -v a="$zp" -v b="$zsum" 'BEGIN {print a / b}')" "$s" "$z" "$(ratio "$z" "$s")" \
        "$(awk -v p="$peak_stored" 'BEGIN {print p / 1024}')" "$(awk -v p="$peak_zstd" 'BEGIN {print p / 1024}')" "$b" \
        "$(awk -v c="$content" -v b="$b" 'BEGIN {print c / b / 1e6}')"
done
echo "stored, zstd (bytes): the payloads (the package less its image and title block); zstd -19 sum, xz -9 sum: each"
echo "archive compressed alone by the command-line tools; vs -19: zstd over zstd -19 sum; stored, zstd (s): the updater"
echo "from answering Yes to the final box; peak: its VmHWM; build: mkupdate build --compress at the default level."
fi
rm -rf "$drive/bench" "$work"

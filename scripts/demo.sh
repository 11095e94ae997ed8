#!/usr/bin/env bash
# The main job, end to end: builds the updater and the package builder, makes a sample game installation
# and a sample update, runs the updater under Wine with a driver answering as a user would, and prints
# what the user saw and the installation before and after.
#   bash scripts/demo.sh              an English user interface, the game in C:\demo\game
#   bash scripts/demo.sh --japanese   the players' usual setup: a Japanese user interface and the game in
#                                     C:\demo\ゲーム\硝子の羽を数えて, shipping a file with a Japanese name
#   bash scripts/demo.sh --delta      a delta update: the installed version's archives are kept in
#                                     C:\demo\base too, both packages are built (whole files, and --base), and
#                                     the delta one runs
#   bash scripts/demo.sh --compress   a compressed update of game-like archives (media, bitmaps, a script):
#                                     both packages are built (stored, and --compress), and the compressed
#                                     one runs
set -euo pipefail
game='C:\demo\game'
prepare=()
if [ "${1:-}" = "--japanese" ]; then
    export WINE_LANG=ja_JP.UTF-8
    game='C:\demo\ゲーム\硝子の羽を数えて'
    prepare=(--japanese)
elif [ "${1:-}" = "--delta" ] || [ "${1:-}" = "--compress" ]; then
    prepare=("$1")
elif [ -n "${1:-}" ]; then
    echo "usage: bash scripts/demo.sh [--japanese | --delta | --compress]" >&2
    exit 2
fi
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/configure.sh
echo "building build/native/mkupdate, build/updater.exe and build/mkupdate.exe (the first time about two minutes;"
echo "afterwards only what changed)"
start=$SECONDS
cmake --build build/native -j "$(nproc)" --target mkupdate >/dev/null
cmake --build build -j "$(nproc)" --target updater mkupdate user_driver >/dev/null
echo "built build/updater.exe ($(stat -c %s build/updater.exe) bytes), build/native/mkupdate and build/mkupdate.exe in $((SECONDS - start)) s"

prefix="$PWD/build/wineprefix"
sh cmake/wine-prefix.sh setup "$prefix"
trap 'sh cmake/wine-prefix.sh stop "$prefix"' EXIT
run() { build/wine-run "$@" | tr -d '\r'; }
drive="$prefix/drive_c"

echo; echo "== preparing a sample installation and update"
run build/tests/user_driver.exe prepare 'C:\demo' "${prepare[@]}"
if [ "${prepare[*]:-}" = "--delta" ]; then
    echo; echo "== the package of whole files (build/native/mkupdate, a Linux program)"
    build/native/mkupdate build --image build/updater.exe --title "「硝子の羽を数えて」 Updater ver 1.01" \
        --files "$drive/demo/ship" --output "$drive/demo/full.exe"
    echo; echo "== the same update as a delta package, against the installed version kept in C:\demo\base"
    build/native/mkupdate build --image build/updater.exe --title "「硝子の羽を数えて」 Updater ver 1.01" \
        --files "$drive/demo/ship" --base "$drive/demo/base" --output "$drive/demo/update.exe"
    echo "package sizes: whole files $(stat -c %s "$drive/demo/full.exe") bytes, delta $(stat -c %s "$drive/demo/update.exe") bytes"
    echo; echo "== mkupdate list: what the delta package carries"
    build/native/mkupdate list "$drive/demo/update.exe"
    echo; echo "== mkupdate verify --base: every check the updater makes, and each delta applied to the base"
    build/native/mkupdate verify "$drive/demo/update.exe" --base "$drive/demo/base"
    echo; echo "== mkupdate plan: what the updater will do to the installation"
    build/native/mkupdate plan "$drive/demo/update.exe" --game "$drive/demo/game"
elif [ "${prepare[*]:-}" = "--compress" ]; then
    echo; echo "== the package stored as it is (build/native/mkupdate, a Linux program)"
    build/native/mkupdate build --image build/updater.exe --title "「硝子の羽を数えて」 Updater ver 1.01" \
        --files "$drive/demo/ship" --output "$drive/demo/stored.exe"
    echo; echo "== the same update compressed (--compress: zstd level 19, each entry only where it saves 1 %)"
    start=$SECONDS
    build/native/mkupdate build --image build/updater.exe --title "「硝子の羽を数えて」 Updater ver 1.01" \
        --files "$drive/demo/ship" --compress --output "$drive/demo/update.exe"
    echo "built in $((SECONDS - start)) s"
    echo "package sizes: stored $(stat -c %s "$drive/demo/stored.exe") bytes, compressed $(stat -c %s "$drive/demo/update.exe") bytes"
    echo; echo "== mkupdate list: each entry's form, stored and content sizes"
    build/native/mkupdate list "$drive/demo/update.exe"
    echo; echo "== mkupdate verify: every check the updater makes, every frame decompressed"
    build/native/mkupdate verify "$drive/demo/update.exe"
else
    echo; echo "== making the updater with the package builder (build/native/mkupdate, a Linux program)"
    build/native/mkupdate build --image build/updater.exe --title "「硝子の羽を数えて」 Updater ver 1.01" \
        --files "$drive/demo/ship" --output "$drive/demo/update.exe"
    echo; echo "== mkupdate list: what the updater carries"
    build/native/mkupdate list "$drive/demo/update.exe"
    echo; echo "== mkupdate verify: every check the updater makes"
    build/native/mkupdate verify "$drive/demo/update.exe"
fi
echo; echo "== running the updater"
run build/tests/user_driver.exe run 'C:\demo\update.exe' "$game"

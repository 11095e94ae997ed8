#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing, generates the Japanese
# locale that Wine needs to carry Japanese file names, arguments and registry values, and unpacks Debian's
# source package of zstd (the version cmake/zstd.txt records) into build/deps/zstd, which the build compiles.
set -euo pipefail
packages="g++ make clang libclang-rt-14-dev g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine64 cmake googletest locales openssl osslsigncode python3 xdelta3 time dpkg-dev debian-archive-keyring zstd xz-utils"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing (on a fresh machine about a minute; apt's own output is kept out of the way)"
    start=$SECONDS
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
    echo "Installed in $((SECONDS - start)) s"
fi
# Wine converts Unix file names with the glibc locale: without ja_JP.UTF-8, a Japanese player's folder
# ("C:\ゲーム\...") cannot even be written under a Japanese UI.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    echo "Generating the ja_JP.UTF-8 locale"
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi

# zstd is built from Debian's own source package (its patches applied), the version recorded once in
# cmake/zstd.txt. apt runs on a private configuration below build/deps/apt: one deb-src line, lists and a
# cache of its own, so the machine's apt sources and lists stay as they are. Fetched only when the unpacked
# folder is missing or holds another version (its debian/changelog's first entry says which).
cd "$(dirname "$0")/.."
zstd_version=$(tr -d ' \n' < cmake/zstd.txt)
zstd_dir=build/deps/zstd
unpacked=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$zstd_dir/debian/changelog" 2>/dev/null || true)
if [ "$unpacked" != "$zstd_version" ] || [ ! -f "$zstd_dir/lib/zstd.h" ]; then
    echo "Fetching Debian's source package libzstd $zstd_version into $zstd_dir"
    start=$SECONDS
    apt_dir=$PWD/build/deps/apt
    fetch=$PWD/build/deps/zstd-fetch
    rm -rf "$apt_dir" "$fetch"
    mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$fetch"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
        > "$apt_dir/sources.list"
    printf '%s\n' "Dir::Etc::SourceList \"$apt_dir/sources.list\";" \
        "Dir::Etc::SourceParts \"$apt_dir/sources.list.d\";" \
        "Dir::State::Lists \"$apt_dir/lists\";" \
        "Dir::Cache \"$apt_dir/cache\";" \
        "APT::Sandbox::User \"root\";" > "$apt_dir/apt.conf"
    if ! (export APT_CONFIG="$apt_dir/apt.conf"
          apt-get update -q && cd "$fetch" && apt-get source -q "libzstd=$zstd_version") >"$apt_dir/log" 2>&1; then
        cat "$apt_dir/log"
        echo "Could not fetch libzstd $zstd_version (apt's output above, kept in $apt_dir/log)" >&2
        exit 1
    fi
    rm -rf "$zstd_dir"
    mv "$fetch"/libzstd-*/ "$zstd_dir"
    rm -rf "$fetch"
    echo "Fetched and unpacked in $((SECONDS - start)) s"
fi

#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing, and generates the
# Japanese locale that Wine needs to carry Japanese file names, arguments and registry values.
set -euo pipefail
packages="g++ make clang libclang-rt-14-dev g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine64 cmake googletest locales openssl osslsigncode python3 xdelta3 time"
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

#!/usr/bin/env bash
# Takes the README's pictures of the progress dialog in English and Japanese: a real window under Xvfb,
# with a Japanese font installed for the picture only. Writes docs/progress-en.png and docs/progress-ja.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for p in xvfb fonts-ipafont-gothic x11-apps imagemagick; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="${missing:-} $p"
done
if [ -n "${missing:-}" ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
fi
bash scripts/configure.sh
cmake --build build -j "$(nproc)" --target updater dialog_preview >/dev/null

# A prefix of its own that draws through X, unlike the headless test prefix.
export WINEPREFIX="$PWD/build/screenshot-prefix" WINEDEBUG=-all DISPLAY=:97
Xvfb :97 -screen 0 800x480x24 >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k >/dev/null 2>&1 || true; kill $xvfb' EXIT
sleep 1
rm -rf "$WINEPREFIX"
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
# No window manager runs under Xvfb: let Wine draw the caption and frame itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# The title holds Japanese in both languages: give the caption font the Japanese glyphs. The caption is
# drawn in "MS Shell Dlg" with the Western character set, which Wine maps to Tahoma in English and to a
# Japanese face under a Japanese locale; either way it must reach a font that has the glyphs.
for face in Tahoma "Tahoma Bold" "MS Shell Dlg" "MS Shell Dlg 2" "MS UI Gothic"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d IPAGothic /f >/dev/null 2>&1
done
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "MS Shell Dlg" \
    /d IPAGothic /f >/dev/null 2>&1
mkdir -p docs
for shot in "en C.UTF-8 103" "ja ja_JP.UTF-8 102"; do
    set -- $shot
    LC_ALL=$2 LANG=$2 wine build/tests/dialog_preview.exe build/updater.exe "$3" 6 >/dev/null 2>&1 &
    preview=$!
    sleep 4
    xwd -root -silent | convert xwd:- -trim +repage "docs/progress-$1.png"
    wait "$preview"
done
echo "wrote docs/progress-en.png docs/progress-ja.png"

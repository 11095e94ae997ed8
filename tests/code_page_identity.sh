#!/bin/sh
# Every conversion between code page 932, UTF-8 and UTF-16, and the case table: the Windows build's answers
# under Wine against the native build's, line for line (all byte pairs, all 65,536 units).
#   code_page_identity.sh BUILD_DIR NATIVE_BUILD_DIR
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$1/wine-run" "$1/tests/code_page_dump.exe" >"$work/windows.raw" </dev/null
tr -d '\r' <"$work/windows.raw" >"$work/windows"
"$2/tests/native/code_page_dump" >"$work/native"
lines=$(wc -l <"$work/windows")
if [ "$lines" -lt 480000 ]; then
    echo "the Windows build printed $lines lines: it did not run to its end"
    exit 1
fi
if ! cmp -s "$work/windows" "$work/native"; then
    echo "the native conversions differ from Windows' (< Windows, > native):"
    diff "$work/windows" "$work/native" | head -40
    exit 1
fi
echo "code pages: $lines conversions, the native build's the same as Windows'"

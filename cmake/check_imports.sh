#!/bin/sh
# Checks a program's import table against an allow-list of "dll function" lines: a DLL that Windows does not
# always load from System32 (which an elevated run could pick up, planted, from the program's own folder),
# or a function nobody decided the program may import, fails the check.
# With SOURCE_DIR, every function the program finds at run time (ResolveSystemFunction(L"dll", "Name") in its
# sources) must stand in the list as "run-time dll Name", and no source but the resolver calls GetProcAddress.
#   check_imports.sh PROGRAM.exe ALLOWED.txt [SOURCE_DIR]
set -e
list=$(mktemp)
trap 'rm -f "$list" "$list.run"' EXIT
grep -v -e '^#' -e '^[[:space:]]*$' -e '^run-time ' "$2" | sort -u > "$list"
if [ -n "${3:-}" ]; then
    grep '^run-time ' "$2" | cut -d' ' -f2- | tr 'A-Z' 'a-z' | sort -u > "$list.run"
    sources=$(find "$3/app" "$3/ui" "$3/update" "$3/install" "$3/archive" "$3/delta" "$3/util" -name '*.cpp' -o -name '*.h')
    # A call may be split across lines: the sources are read as one text.
    resolved=$(cat $sources | tr '\n' ' ' | grep -o 'ResolveSystemFunction( *L"[^"]*", *"[^"]*")' |
        sed 's/ResolveSystemFunction( *L"\([^"]*\)", *"\([^"]*\)")/\1 \2/' | tr 'A-Z' 'a-z' | sort -u)
    [ -n "$resolved" ] || { echo "no run-time look-ups found in $3"; exit 1; }
    echo "$(printf '%s\n' "$resolved" | wc -l) functions found at run time"
    unlisted=$(printf '%s\n' "$resolved" | comm -23 - "$list.run")
    [ -z "$unlisted" ] || { printf 'found at run time, not allowed:\n%s\n' "$unlisted"; exit 1; }
    others=$(grep -l 'GetProcAddress' $sources | grep -v 'util/base/system_functions_win.cpp$' || true)
    [ -z "$others" ] || { printf 'GetProcAddress outside the resolver:\n%s\n' "$others"; exit 1; }
fi
imports=$(x86_64-w64-mingw32-objdump -p "$1" |
    awk '/DLL Name:/ {dll=tolower($3)} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll, $3}' | sort -u)
[ -n "$imports" ] || { echo "no imports read from $1"; exit 1; }
echo "$(printf '%s\n' "$imports" | wc -l) functions imported from $(printf '%s\n' "$imports" | cut -d' ' -f1 | sort -u | tr '\n' ' ')"
gone=$(printf '%s\n' "$imports" | comm -13 - "$list")
[ -z "$gone" ] || printf 'allowed but no longer imported (may leave the list):\n%s\n' "$gone"
unexpected=$(printf '%s\n' "$imports" | comm -23 - "$list")
[ -z "$unexpected" ] || { printf 'not allowed:\n%s\n' "$unexpected"; exit 1; }

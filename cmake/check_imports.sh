#!/bin/sh
# Checks a program's import table against an allow-list of "dll function" lines: a DLL that Windows does not
# always load from System32 (which an elevated run could pick up, planted, from the program's own folder),
# or a function nobody decided the program may import, fails the check.
#   check_imports.sh PROGRAM.exe ALLOWED.txt
set -e
list=$(mktemp)
trap 'rm -f "$list"' EXIT
grep -v -e '^#' -e '^[[:space:]]*$' "$2" | sort -u > "$list"
imports=$(x86_64-w64-mingw32-objdump -p "$1" |
    awk '/DLL Name:/ {dll=tolower($3)} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll, $3}' | sort -u)
[ -n "$imports" ] || { echo "no imports read from $1"; exit 1; }
echo "$(printf '%s\n' "$imports" | wc -l) functions imported from $(printf '%s\n' "$imports" | cut -d' ' -f1 | sort -u | tr '\n' ' ')"
gone=$(printf '%s\n' "$imports" | comm -13 - "$list")
[ -z "$gone" ] || printf 'allowed but no longer imported (may leave the list):\n%s\n' "$gone"
unexpected=$(printf '%s\n' "$imports" | comm -23 - "$list")
[ -z "$unexpected" ] || { printf 'not allowed:\n%s\n' "$unexpected"; exit 1; }

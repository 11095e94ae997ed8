#!/bin/sh
# Checks that a program imports only DLLs that Windows always loads from System32, so an elevated run
# can never pick up a planted DLL from the program's own folder.
#   check_imports.sh PROGRAM.exe
set -e
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll ole32.dll shell32.dll msvcrt.dll"
imports=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
status=0
for dll in $imports; do
    case " $allowed " in
    *" $dll "*) echo "ok: $dll" ;;
    *) echo "not allowed: $dll"; status=1 ;;
    esac
done
[ -n "$imports" ] || { echo "no imports read from $1"; exit 1; }
exit $status

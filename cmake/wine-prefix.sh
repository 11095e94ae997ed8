#!/bin/sh
# Makes the build's private Wine prefix (once), headless through the null graphics driver,
# and keeps one wineserver running for the whole test run so each program starts quickly.
#   wine-prefix.sh setup PREFIX    wine-prefix.sh stop PREFIX
set -e
action=$1
export WINEPREFIX="$2"
export WINEDEBUG=-all
case "$action" in
setup)
    if [ ! -f "$WINEPREFIX/.headless" ]; then
        rm -rf "$WINEPREFIX"
        WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.headless"
    fi
    # A program that crashes would otherwise have Wine's debugger attach and wait for a crash dialog that a
    # headless desktop never shows: the process would hang instead of ending with its exception code, and a
    # crash would look like a hang (after the test's timeout) rather than a crash.
    if [ ! -f "$WINEPREFIX/.no-crash-dialog" ]; then
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        touch "$WINEPREFIX/.no-crash-dialog"
    fi
    # Its output must not hold CTest's pipe open.
    wineserver -p >/dev/null 2>&1 </dev/null || true  # one may already run for this prefix
    # The first program of a new wineserver starts Wine's own background processes; they inherit its
    # output, so start them here on /dev/null rather than inside a test whose pipe CTest reads.
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
    # Wine's desktop process ends a moment after its last window goes, and the next program to open a window
    # starts it again and hands it its own output: a CTest pipe it then holds open until that test's
    # timeout. A hidden window that lives as long as this wineserver keeps one desktop process for the run.
    wine start /min notepad.exe >/dev/null 2>&1 </dev/null || true
    ;;
stop)
    wineserver -k >/dev/null 2>&1 || true
    ;;
esac

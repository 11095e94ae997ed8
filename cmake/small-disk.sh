#!/bin/sh
# Gives the build's Wine prefix a tiny drive T: on its own tmpfs, so tests can fill a disk.
#   small-disk.sh setup PREFIX DIR     small-disk.sh stop PREFIX DIR
# Mounting needs the right to mount; without it the drive is absent, the full-disk cases skip themselves,
# and setup exits 77, which CTest reports as Skipped (SKIP_RETURN_CODE), naming the reason.
action=$1 prefix=$2 dir=$3
case "$action" in
setup)
    rm -f "$prefix/dosdevices/t:"
    mkdir -p "$dir"
    if mountpoint -q "$dir" || mount -t tmpfs -o size=2m tmpfs "$dir" 2>/dev/null; then
        ln -s "$dir" "$prefix/dosdevices/t:"
    else
        echo "skipped: no small disk T: (mounting a tmpfs was not allowed here): the full-disk faults are not tested"
        exit 77
    fi
    ;;
stop)
    rm -f "$prefix/dosdevices/t:"
    mountpoint -q "$dir" && umount "$dir"
    ;;
esac
exit 0

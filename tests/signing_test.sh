#!/usr/bin/env bash
# Signing an updater as the studio's release engineer does: a throwaway certificate from openssl, the
# signature from osslsigncode. The signed updater installs exactly as the unsigned one, list and verify
# accept it, list reports the certificate, and one changed payload byte breaks the signature.
#   signing_test.sh BUILD_DIR
# Every run goes through tr: without pipefail a pipeline's status is tr's, and no failure could be seen.
set -euo pipefail
build=$1
drive="$build/wineprefix/drive_c"
run() { "$build/wine-run" "$@" | tr -d '\r'; }
fail() { echo "signing test: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work" "$drive/signing" "$drive/signing-out"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=Garasu updater test signing" >/dev/null 2>&1 || fail "openssl could not make a certificate"
image=$(run winepath -w "$build/updater.exe")
mkdir -p "$drive/signing-out"
run "$build/tests/user_driver.exe" prepare 'C:\signing' >/dev/null
run "$build/mkupdate.exe" build --quiet --image "$image" --title "Signing Test Updater" \
    --files 'C:\signing\ship' --output 'C:\signing-out\unsigned.exe' >/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Garasu Updater" \
    -in "$drive/signing-out/unsigned.exe" -out "$drive/signing-out/signed.exe" >/dev/null \
    || fail "osslsigncode could not sign"
osslsigncode verify -in "$drive/signing-out/signed.exe" -CAfile "$work/cert.pem" >/dev/null 2>&1 \
    || fail "the signature of the signed updater does not verify"

# The fixed offsets are untouched: list and verify read the signed file as they read the unsigned one.
run "$build/mkupdate.exe" list 'C:\signing-out\signed.exe' | grep -x 'certificate: present (not validated here)' >/dev/null \
    || fail "list does not report the certificate of the signed updater"
run "$build/mkupdate.exe" list 'C:\signing-out\unsigned.exe' | grep -x 'certificate: none' >/dev/null \
    || fail "list reports a certificate in the unsigned updater"
run "$build/mkupdate.exe" verify 'C:\signing-out\signed.exe' >/dev/null || fail "verify refuses the signed updater"

# Both install the same: the installation afterwards is the same, file by file, record by record.
after() { sed -n '/== installation after/,$p' "$1" | tail -n +2; }
run "$build/tests/user_driver.exe" run 'C:\signing-out\unsigned.exe' 'C:\signing\game' >"$work/unsigned.txt"
run "$build/tests/user_driver.exe" prepare 'C:\signing' >/dev/null
run "$build/tests/user_driver.exe" run 'C:\signing-out\signed.exe' 'C:\signing\game' >"$work/signed.txt"
grep -q 'exit code: 0 ' "$work/signed.txt" || fail "the signed updater did not install: $(cat "$work/signed.txt")"
after "$work/unsigned.txt" >"$work/a"; after "$work/signed.txt" >"$work/b"
[ -s "$work/a" ] && cmp -s "$work/a" "$work/b" || fail "the signed updater installed something else"

# The signature covers the payload: one changed byte of it is caught.
cp "$drive/signing-out/signed.exe" "$work/tampered.exe"
printf '\377' | dd of="$work/tampered.exe" bs=1 seek=$((0xA0400 + 0x900)) conv=notrunc 2>/dev/null
if osslsigncode verify -in "$work/tampered.exe" -CAfile "$work/cert.pem" >/dev/null 2>&1; then
    fail "a changed payload byte still verifies"
fi
echo "signing test: 1 passed, 0 failed"

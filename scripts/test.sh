#!/usr/bin/env bash
# Installs what is missing; builds the portable core natively and runs its tests; builds it again under
# ASan and UBSan and runs its tests and each fuzz target for a bounded time, and under ThreadSanitizer and
# runs its tests; then builds everything for
# Windows and runs every test under Wine (the native build's answers held to the Windows build's among them).
# Every step says what it does as it starts and how long it took as it ends.
#   bash scripts/test.sh            (build folders: ./build, ./build/native, ./build/fuzz and ./build/tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
# step "what" command...: one line as it starts, one with its time as it ends.
step() {
    local what=$1 start=$SECONDS
    shift
    echo "== $what"
    "$@"
    echo "== $what: $((SECONDS - start)) s"
}
bash scripts/deps.sh
bash scripts/configure.sh
step "building the portable core natively (build/native)" cmake --build build/native -j "$(nproc)"
step "the native tests (build/native)" bash -c 'cd build/native && ctest --output-on-failure -j 2'
step "building the core under ASan and UBSan, and the fuzz targets (build/fuzz)" cmake --build build/fuzz -j "$(nproc)"
step "the sanitized tests and 20 s of each fuzz target (build/fuzz)" bash -c 'cd build/fuzz && ctest --output-on-failure -j 2'
step "building the core under ThreadSanitizer (build/tsan)" cmake --build build/tsan -j "$(nproc)" --target core_tests
step "the tests under ThreadSanitizer (build/tsan)" bash -c 'cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j 2'
step "building the Windows programs and their tests (build)" cmake --build build -j "$(nproc)"
cd build
# The prefix before CTest starts: CTest asks the test programs for their cases before any fixture runs.
step "the Wine prefix (build/wineprefix)" sh ../cmake/wine-prefix.sh setup "$PWD/wineprefix"
# CTest shows a test's output only when it ends: the fault campaign's parts are shown as they start and end.
progress=Testing/fault-campaign-progress.txt
mkdir -p Testing
: > "$progress"
echo "== every test under Wine (the fault campaign, the longest, runs about 2 to 4 minutes beside the others)"
start=$SECONDS
status=0
ctest --output-on-failure -j 2 &
tests=$!
tail -n +1 -F --pid=$tests "$progress" 2>/dev/null &
wait $tests || status=$?
wait || true
echo "== every test under Wine: $((SECONDS - start)) s"
# The fault campaign's figures, whatever the outcome, and what was skipped and why.
grep -h "^fault campaign:" Testing/Temporary/LastTest.log || true
grep -h "^skipped:" Testing/Temporary/LastTest.log || true
exit $status

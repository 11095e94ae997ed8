#!/usr/bin/env bash
# Installs what is missing; builds the portable core natively and runs its tests; builds it again under
# ASan and UBSan and runs its tests and each fuzz target for a bounded time, and under ThreadSanitizer and
# runs its tests; then builds everything for
# Windows and runs every test under Wine (the native build's answers held to the Windows build's among them).
#   bash scripts/test.sh            (build folders: ./build, ./build/native, ./build/fuzz and ./build/tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/configure.sh
cmake --build build/native -j "$(nproc)"
(cd build/native && ctest --output-on-failure -j 2)
cmake --build build/fuzz -j "$(nproc)"
(cd build/fuzz && ctest --output-on-failure -j 2)
cmake --build build/tsan -j "$(nproc)" --target core_tests
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j 2)
cmake --build build -j "$(nproc)"
cd build
# The prefix before CTest starts: CTest asks the test programs for their cases before any fixture runs.
sh ../cmake/wine-prefix.sh setup "$PWD/wineprefix"
status=0
ctest --output-on-failure -j 2 || status=$?
# The fault campaign's figures, whatever the outcome, and what was skipped and why.
grep -h "^fault campaign:" Testing/Temporary/LastTest.log || true
grep -h "^skipped:" Testing/Temporary/LastTest.log || true
exit $status

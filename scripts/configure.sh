#!/usr/bin/env bash
# Configures, once, build/ for the mingw-w64 cross build, build/native for the host compiler (the portable
# core, the native mkupdate and the core's tests), build/fuzz for clang under ASan and UBSan (the core's
# tests again and the fuzz targets) and build/tsan for clang under ThreadSanitizer (the core's tests again): only when a folder is new or its cache lacks what it needs. Configuring an existing build again with the toolchain file makes CMake warn that the
# variable was not used; `cmake --build` re-runs the configuration by itself when a CMakeLists.txt changed.
#   bash scripts/configure.sh        (from the repository root)
set -euo pipefail
cd "$(dirname "$0")/.."
# A build configured with another compiler (the POSIX threading model, before) starts again. The toolchain
# file sets the compiler as a plain variable, so the cache never names it: CMake's own record of the compiler
# it found does.
if [ -f build/CMakeCache.txt ] && ! grep -qs 'set(CMAKE_CXX_COMPILER ".*-g++-win32")' build/CMakeFiles/*/CMakeCXXCompiler.cmake; then
    rm -rf build/CMakeCache.txt build/CMakeFiles
fi
if ! grep -q '^CMAKE_TOOLCHAIN_FILE:' build/CMakeCache.txt 2>/dev/null; then
    cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if [ ! -f build/native/CMakeCache.txt ]; then
    cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if [ ! -f build/fuzz/CMakeCache.txt ]; then
    CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Release -DGARASU_SANITIZE=ON >/dev/null
fi
if [ ! -f build/tsan/CMakeCache.txt ]; then
    CC=clang CXX=clang++ cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Release -DGARASU_TSAN=ON >/dev/null
fi

#!/usr/bin/env bash
# Builds the test suite with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan and runs it: any finding fails the test that trips it.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build-asan/build.ninja ] ||
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1" \
    -DTORVEL_SANITIZE=ON -DTORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"
cd build-asan
ASAN_OPTIONS=abort_on_error=0:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$(nproc)" --timeout 300

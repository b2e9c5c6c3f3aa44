#!/usr/bin/env bash
# Builds the engine and torvel without Qt (-DTORVEL_GUI=OFF) into
# build-headless, checks that nothing of Qt is linked, and runs its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-headless -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVEL_GUI=OFF -DTORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-headless -j"$(nproc)"
if ldd build-headless/src/cli/torvel | grep -qi qt; then
  echo "torvel of the headless build links Qt" >&2
  exit 1
fi
cd build-headless
ctest --output-on-failure -j"$(nproc)" --timeout 300

#!/usr/bin/env bash
# Configures and builds everything into ./build. Configuring again each time
# is cheap and picks up packages installed since (the tests' GoogleTest).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

#!/usr/bin/env bash
# Builds the Debian package from a built tree with CPack:
#   scripts/package.sh [BUILD_DIR] [OUTDIR]    (default ./build and ./dist)
# A tree configured with -DTORVEL_GUI=OFF gives torvel-tools-headless
# (torvel only, no Qt). Prints the path of the .deb.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
out="$(mkdir -p "${2:-dist}" && cd "${2:-dist}" && pwd)"
cmake --build "$build" -j"$(nproc)" >/dev/null
(cd "$build" && cpack -G DEB -B "$out/cpack" >/dev/null)
deb=$(ls -t "$out"/cpack/*.deb | head -1)
mv -f "$deb" "$out/"
rm -rf "$out/cpack"
echo "$out/$(basename "$deb")"

#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, only when some are missing,
# so a ready machine is not slowed down.
#   scripts/deps.sh build   what building the program and running the window need (./run.sh)
#   scripts/deps.sh test    that, and what the tests, sanitizers and fuzzers use (./test.sh, .ci/run)
set -euo pipefail
BUILD=(g++ cmake ninja-build qt6-base-dev libtiff-dev libpng-dev libjpeg62-turbo-dev libwebp-dev libcurl4-openssl-dev
  zlib1g-dev pkg-config fonts-dejavu-core curl ca-certificates)
TEST=(libtiff-tools libgtest-dev libbenchmark-dev xvfb xauth python3 python3-numpy python3-pil python3-tifffile
  dbus-daemon dbus-bin time clang libclang-rt-14-dev x11-utils man-db imagemagick python3-psd-tools chromium
  libvips-tools gdal-bin dpkg-dev lintian desktop-file-utils appstream shared-mime-info xdg-utils libfile-mimeinfo-perl parallel file)
case "${1:-test}" in
  build) PACKAGES=("${BUILD[@]}") ;;
  test) PACKAGES=("${BUILD[@]}" "${TEST[@]}") ;;
  *) echo "usage: scripts/deps.sh build|test" >&2; exit 2 ;;
esac
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The viewer that pyramids carry, from the npm registry.
"$(dirname "$0")/openseadragon.sh"

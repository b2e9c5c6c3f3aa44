#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the window need, only
# when some are missing, so a ready machine is not slowed down.
set -euo pipefail
PACKAGES=(g++ cmake ninja-build qt6-base-dev libtiff-dev libtiff-tools libcurl4-openssl-dev
  libgtest-dev libbenchmark-dev xvfb xauth fonts-dejavu-core python3
  python3-numpy python3-pil python3-tifffile dbus-daemon dbus-bin time clang libclang-rt-14-dev x11-utils zlib1g-dev man-db)
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

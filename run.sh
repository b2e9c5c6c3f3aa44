#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh
if [ -x build/src/ui/torvel-tools ]; then
  exec build/src/ui/torvel-tools "$@"
fi
build/src/cli/torvel --help

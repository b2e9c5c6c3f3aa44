#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh build
scripts/build.sh
# The desktop entry (task-bar progress), and torvel with its man page and completion.
scripts/install-user.sh
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: the window needs one (try xvfb-run ./run.sh). The command line works without:"
  exec build/src/cli/torvel --help
fi
exec build/src/ui/torvel-tools "$@"

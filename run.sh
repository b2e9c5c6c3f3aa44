#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh
# The launcher entry (task-bar progress) needs the desktop file id installed.
apps="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
mkdir -p "$apps" && sed "s|^Exec=.*|Exec=$PWD/build/src/ui/torvel-tools %F|" data/torvel-tools.desktop >"$apps/torvel-tools.desktop"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: the window needs one (try xvfb-run ./run.sh). The command line works without:"
  exec build/src/cli/torvel --help
fi
exec build/src/ui/torvel-tools "$@"

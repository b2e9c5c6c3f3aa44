#!/usr/bin/env bash
# Installs for the current user, from a built tree (scripts/install-user.sh
# [BUILD_DIR], default ./build): the desktop entry (the task-bar progress
# needs its id), the torvel command in ~/.local/bin, its man page and its
# bash completion. Nothing outside the user's folders.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
mkdir -p "$data/applications" "$data/man/man1" "$data/bash-completion/completions" "$HOME/.local/bin"
if [ -x "$build/src/ui/torvel-tools" ]; then
  sed "s|^Exec=.*|Exec=$build/src/ui/torvel-tools %F|" data/torvel-tools.desktop >"$data/applications/torvel-tools.desktop"
fi
install -m 644 data/torvel.1 "$data/man/man1/torvel.1"
install -m 644 data/torvel.bash-completion "$data/bash-completion/completions/torvel"
ln -sf "$build/src/cli/torvel" "$HOME/.local/bin/torvel"

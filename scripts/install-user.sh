#!/usr/bin/env bash
# Installs a built tree for the current user: cmake --install into ~/.local
# (scripts/install-user.sh [BUILD_DIR], default ./build), then the caches the
# desktop reads. Nothing outside the user's folders.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
prefix="$HOME/.local"
cmake --install "$build" --prefix "$prefix" >/dev/null
share="$prefix/share"
# Launchers and file managers may not have ~/.local/bin on their PATH.
for f in "$share/applications/torvel-tools.desktop" "$share/thumbnailers/torvel.thumbnailer"; do
  [ -f "$f" ] && sed -i -e "s|^Exec=torvel|Exec=$prefix/bin/torvel|" -e "s|^TryExec=torvel|TryExec=$prefix/bin/torvel|" "$f"
done
if command -v update-mime-database >/dev/null; then update-mime-database "$share/mime" >/dev/null 2>&1 || true; fi
if command -v update-desktop-database >/dev/null; then update-desktop-database "$share/applications" 2>/dev/null || true; fi
if command -v gtk-update-icon-cache >/dev/null; then gtk-update-icon-cache -q -t "$share/icons/hicolor" 2>/dev/null || true; fi

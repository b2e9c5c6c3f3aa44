#!/usr/bin/env bash
# Builds the Debian packages (from ./build, and from ./build-headless when
# scripts/headless.sh has made it), checks them with lintian, unpacks them into
# a scratch root and runs what they install from there: torvel, a convert,
# the thumbnailer's registered command, the window offscreen; validates the
# desktop entry, the AppStream metainfo and the MIME entry.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

check_deb() {  # DEB ROOT
  lintian --fail-on error --tag-display-limit 0 "$1" 2>&1 | grep -v "running with root privileges" || true
  lintian --fail-on error "$1" >/dev/null 2>&1 || fail "lintian reports errors in $1"
  dpkg -x "$1" "$2"
  "$2/usr/bin/torvel" --version | head -1 | grep -qx "torvel $(sed -n 's/^project(TorvelTools VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ||
    fail "torvel --version from $1"
  convert -size 300x200 gradient:red-blue "$scratch/in.tif"
  "$2/usr/bin/torvel" convert "$scratch/in.tif" --format kro --out "$scratch" --quiet --yes || fail "convert from $1"
  [ -s "$scratch/in.kro" ] || fail "no KRO from $1"
  # The thumbnailer exactly as a file manager runs it.
  local exec
  exec=$(sed -n 's/^Exec=//p' "$2/usr/share/thumbnailers/torvel.thumbnailer")
  exec=${exec//%s/64}; exec=${exec//%i/$scratch/in.kro}; exec=${exec//%o/$scratch/thumb.png}
  PATH="$2/usr/bin:$PATH" bash -c "$exec" >/dev/null || fail "thumbnailer from $1"
  file "$scratch/thumb.png" | grep -q "PNG image data, 64 x 43" || fail "thumbnail size from $1: $(file "$scratch/thumb.png")"
  rm -f "$scratch/in.kro" "$scratch/thumb.png"
}

deb=$(scripts/package.sh build "$scratch/dist")
check_deb "$deb" "$scratch/root"
root="$scratch/root/usr/share"
desktop-file-validate "$root/applications/torvel-tools.desktop" | grep -v "^.*: hint:" || true
desktop-file-validate "$root/applications/torvel-tools.desktop" >/dev/null || fail "desktop entry"
appstreamcli validate --no-net "$root"/metainfo/*.metainfo.xml || fail "metainfo"
mkdir -p "$scratch/data/mime/packages"
cp "$root/mime/packages/torvel-tools.xml" "$scratch/data/mime/packages/"
update-mime-database "$scratch/data/mime" >/dev/null 2>&1
printf 'KRO\001' | cat - <(head -c 16 /dev/zero) >"$scratch/probe.kro"
type=$(XDG_DATA_HOME="$scratch/data" XDG_DATA_DIRS="$scratch/data:/usr/share" xdg-mime query filetype "$scratch/probe.kro")
[ "$type" = image/x-torvel-kro ] || fail "a KRO file is $type"
# The window from the package starts (and is ended by the timeout).
status=0
QT_QPA_PLATFORM=offscreen HOME="$scratch" XDG_RUNTIME_DIR="$scratch" timeout 3 "$scratch/root/usr/bin/torvel-tools" "$scratch/in.tif" || status=$?
[ "$status" = 124 ] || fail "the window from the package ended with $status"
echo "package OK: $(basename "$deb")"

if [ -d build-headless ]; then
  deb=$(scripts/package.sh build-headless "$scratch/dist")
  check_deb "$deb" "$scratch/headless"
  [ ! -e "$scratch/headless/usr/bin/torvel-tools" ] || fail "the headless package has the window"
  ! dpkg-deb -f "$deb" Depends | grep -qi qt || fail "the headless package depends on Qt"
  echo "package OK: $(basename "$deb")"
fi

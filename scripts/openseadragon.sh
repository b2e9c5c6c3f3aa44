#!/usr/bin/env bash
# Fetches OpenSeadragon (BSD-3-Clause), the viewer of the pages written
# beside pyramids, from the npm registry into .cache, where the build embeds
# it (its licence file with it). The tarball's checksum is pinned. Without
# it the program builds all the same, and pyramids need --no-viewer.
set -euo pipefail
cd "$(dirname "$0")/.."
version=6.1.1
sha256=b4ab2942f33b90e0448e4d20fc5ed14cee049f1f3ae49d70afd4b05e9a2f92d0
dest=.cache/openseadragon-$version/openseadragon
[ -f "$dest/openseadragon.min.js" ] && exit 0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
url=https://registry.npmjs.org/openseadragon/-/openseadragon-$version.tgz
if ! curl -sSfL --retry 2 -o "$tmp/osd.tgz" "$url"; then
  echo "Could not fetch $url: pyramids will need --no-viewer" >&2
  exit 0
fi
echo "$sha256  $tmp/osd.tgz" | sha256sum -c --quiet
tar xzf "$tmp/osd.tgz" -C "$tmp"
mkdir -p "$dest"
cp "$tmp/package/build/openseadragon/openseadragon.min.js" "$tmp/package/LICENSE.txt" "$dest/"
cp -r "$tmp/package/build/openseadragon/images" "$dest/"

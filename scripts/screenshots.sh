#!/usr/bin/env bash
# Pictures of the window in every mode and of the preview, under Xvfb with
# the X11 platform, at scale factors 1 and 2:
#   scripts/screenshots.sh [OUTDIR]   (default build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
scripts/build.sh >/dev/null
input=build/screenshots-input/scan_6000X4000.raw
mkdir -p "$(dirname "$input")"
[ -f "$input" ] || build/bench/gen_raw "$input" 6000 4000 8
for scale in 1 2; do
  mkdir -p "$out/scale$scale"
  xvfb-run -a -s "-screen 0 1920x1440x24" env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale \
    build/tests/ui_screenshots "$out/scale$scale" "$input"
done
ls "$out"/scale*/*.png

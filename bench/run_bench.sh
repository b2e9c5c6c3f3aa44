#!/usr/bin/env bash
# Times torvel's streaming jobs as whole processes, with peak resident memory,
# beside libvips and a plain cp of the same bytes. Generates its own images
# (about 8 GB in bench/out). Not part of ./test.sh; takes several minutes.
#   bench/run_bench.sh [streaming|resize|tiles|all]
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
if ! command -v vips >/dev/null || [ ! -x /usr/bin/time ]; then
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends libvips-tools time; } >/dev/null
fi
scripts/build.sh >/dev/null
T=build/src/cli/torvel
G=build/bench/gen_raw
O=bench/out
mkdir -p "$O"
export VIPS_CONCURRENCY=${VIPS_CONCURRENCY:-2}

# run CMD... : the best of $REPEAT runs into SECS and its peak KB into PEAK.
# This machine's page allocation and write-back vary a lot from run to run;
# the best run is the one least disturbed by them.
REPEAT=${REPEAT:-3}
run() {
  local log="$O/time.log" best="" bestk="" s k i
  for i in $(seq "$REPEAT"); do
    [ "$i" -gt 1 ] && rm -rf "$W"/* 2>/dev/null
    sync
    /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>"$O/stderr.log" </dev/null || { echo "FAILED: $*" >&2; cat "$O/stderr.log" >&2; }
    read -r s k < <(tail -n 1 "$log")
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$s; bestk=$k; fi
  done
  SECS=$best
  PEAK=$bestk
}

row() { # job, torvel s, torvel KB, cp s, vips s, vips KB
  local rcp rvips
  rcp=$(awk -v a="$2" -v b="$4" 'BEGIN{ if (b>0) printf "%.2f", a/b; else print "-" }')
  rvips=$(awk -v a="$2" -v b="$5" 'BEGIN{ if (b!="-" && b>0) printf "%.2f", a/b; else print "-" }')
  printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n" "$1" "$2" "$(( $3 / 1024 ))" "$4" "$5" "${6:+$(( $6 / 1024 ))}" "$rcp" "$rvips"
}

# Outputs go to memory when there is room, so the table measures the tools
# and not the disk's write-back; inputs are read from the (cached) disk.
W="$O/w"
[ -d /dev/shm ] && [ "$(df --output=avail -B1G /dev/shm | tail -1)" -gt 12 ] && W=/dev/shm/torvel-bench
fresh() { rm -rf "$W"; mkdir -p "$W"; }

if [ "$what" = streaming ] || [ "$what" = all ] || [ "$what" = tiles ]; then
  [ -f "$O/pano_40000X25000.raw" ] || $G "$O/pano_40000X25000.raw" 40000 25000 8
  [ -f "$O/deep_12000X8000.raw" ] || $G "$O/deep_12000X8000.raw" 12000 8000 16
  [ -f "$O/pano.tif" ] || $T convert "$O/pano_40000X25000.raw" --out "$O" --quiet >/dev/null
  [ -f "$O/deep.tif" ] || $T convert "$O/deep_12000X8000.raw" --out "$O" --quiet >/dev/null
  echo "| job | torvel s | torvel MB | cp s | vips s | vips MB | ×cp | ×vips |"
  echo "|---|---|---|---|---|---|---|---|"
  job() { # name, input, torvel args..., -- vips args...
    local name=$1 in=$2; shift 2
    local targs=() vargs=()
    while [ "$1" != "--" ]; do targs+=("$1"); shift; done; shift
    vargs=("$@")
    cat "$in" >/dev/null  # every contender reads from the page cache
    fresh; run cp "$in" "$W/copy"; local cs=$SECS
    fresh; run $T "${targs[@]}" --out "$W" --quiet; local ts=$SECS tk=$PEAK
    local vs="-" vk=""
    if [ ${#vargs[@]} -gt 0 ]; then fresh; run vips "${vargs[@]}"; vs=$SECS; vk=$PEAK; fi
    row "$name" "$ts" "$tk" "$cs" "$vs" "$vk"
  }
  R8="$O/pano_40000X25000.raw"; R16="$O/deep_12000X8000.raw"
  if [ "$what" != tiles ]; then
  job "8-bit RAW→TIFF" "$R8" convert "$R8" -- rawload "$R8" "$W/v.tif" 40000 25000 3
  job "8-bit RAW→LZW TIFF" "$R8" convert "$R8" --format tif-lzw -- rawload "$R8" "$W/v.tif[compression=lzw]" 40000 25000 3
  job "8-bit TIFF→RAW" "$O/pano.tif" convert "$O/pano.tif" --format raw -- rawsave "$O/pano.tif" "$W/v.raw"
  job "8-bit TIFF→KRO" "$O/pano.tif" convert "$O/pano.tif" --format kro --
  job "8-bit crop 10000×8000 @5000,9000 (TIFF)" "$O/pano.tif" crop "$O/pano.tif" 5000 9000 10000 8000 -- crop "$O/pano.tif" "$W/v.tif" 5000 9000 10000 8000
  job "8-bit crop 10000×8000 @5000,9000 (RAW)" "$R8" crop "$R8" 5000 9000 10000 8000 --format raw --
  job "16-bit RAW→TIFF" "$R16" convert "$R16" -- rawload "$R16" "$W/v.tif" 12000 8000 6
  job "16-bit TIFF→RAW" "$O/deep.tif" convert "$O/deep.tif" --format raw -- rawsave "$O/deep.tif" "$W/v.raw"
  fi
  # Split, then merge those tiles back (vips: arrayjoin of the same tiles).
  T_DIR="$W-tiles"
  rm -rf "$T_DIR"; mkdir -p "$T_DIR"
  cat "$O/pano.tif" >/dev/null
  fresh; run cp "$O/pano.tif" "$W/copy"; cs=$SECS
  REPEAT_SAVE=$REPEAT; REPEAT=1  # the tiles must survive for the merge
  fresh  # memory is what this machine runs short of first: drop the copy
  rm -rf "$T_DIR"/*; run $T split "$O/pano.tif" --tile 1000x800 --out "$T_DIR" --quiet
  REPEAT=$REPEAT_SAVE
  row "8-bit split into 1000×800 TIFF tiles" "$SECS" "$PEAK" "$cs" "-" ""
  mapfile -t tiles < <(ls "$T_DIR"/*.tif | sort -t_ -k4)
  fresh; run $T merge "${tiles[@]}" --out "$W" --quiet; ts=$SECS; tk=$PEAK
  mapfile -t ordered < <(for y in $(seq 1 32); do for x in $(seq 1 40); do ls "$T_DIR"/*_x${x}y${y}.tif; done; done)
  fresh; run vips arrayjoin "${ordered[*]}" "$W/v.tif" --across 40; vs=$SECS; vk=$PEAK
  row "8-bit merge of 1280 tiles" "$ts" "$tk" "$cs" "$vs" "$vk"
fi
if [ "$what" = resize ] || [ "$what" = all ]; then
  [ -f "$O/pano.tif" ] || { $G "$O/pano_40000X25000.raw" 40000 25000 8; $T convert "$O/pano_40000X25000.raw" --out "$O" --quiet >/dev/null; }
  echo
  echo "| resize 40000×25000 → 4000 | torvel s | torvel MB | vips s | vips MB | ×vips |"
  echo "|---|---|---|---|---|---|"
  for m in slow fast; do
    kernel=lanczos3; [ $m = fast ] && kernel=nearest
    fresh; run $T resize "$O/pano.tif" --width 4000 --$m --out "$W" --quiet; ts=$SECS; tk=$PEAK
    fresh; run vips resize "$O/pano.tif" "$W/v.tif" 0.1 --kernel $kernel; vs=$SECS; vk=$PEAK
    printf "| %s (vips --kernel %s) | %s | %s | %s | %s | %s |\n" "$m" "$kernel" "$ts" "$((tk / 1024))" "$vs" "$((vk / 1024))" \
      "$(awk -v a="$ts" -v b="$vs" 'BEGIN{printf "%.2f", a/b}')"
  done
fi
rm -rf "$W" "$W-tiles"

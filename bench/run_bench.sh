#!/usr/bin/env bash
# Times torvel's jobs as whole processes beside a peer doing the same job in
# the same run: libvips, GDAL, or cp of the same bytes. Each figure is the
# median of three runs, torvel's and the peer's runs taking turns so that both
# see the same state of this machine; the ratio is torvel's time over the
# peer's (below 1: faster). Generates its own images in bench/out (about
# 12 GB); outputs go to /dev/shm when it has room. Not part of ./test.sh.
#   bench/run_bench.sh [peers|streaming|formats|all]
#     peers      LZW, slow and fast resize, split, on 30000 × 20000 and
#                40000 × 25000; a tiled LZW input converted
#     streaming  conversions, crops and merge beside cp and libvips
#     formats    Deflate and ZSTD TIFF beside libvips and GDAL, PSB both
#                ways beside ImageMagick (one run), and every output format
#                and back at full size with its memory and file size
#     pyramids   Deep Zoom and a pyramidal JPEG TIFF beside libvips;
#                gdal2tiles once (formats and pyramids on FORMATS_SIZE,
#                default "40000 25000")
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
need=()
command -v vips >/dev/null || need+=(libvips-tools)
command -v gdal_translate >/dev/null || need+=(gdal-bin)
[ -x /usr/bin/time ] || need+=(time)
command -v tiffcp >/dev/null || need+=(libtiff-tools)
[ -x /usr/bin/convert ] || need+=(imagemagick)
command -v gdal2tiles.py >/dev/null || need+=(python3-gdal)
if [ ${#need[@]} -gt 0 ]; then
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"; } >/dev/null
fi
scripts/build.sh >/dev/null
T=build/src/cli/torvel
G=build/bench/gen_raw
O=bench/out
mkdir -p "$O"
export VIPS_CONCURRENCY=${VIPS_CONCURRENCY:-$(nproc)}
REPEAT=${REPEAT:-3}
# The image of the formats and pyramids groups: FORMATS_SIZE="20000 12500"
# for a quarter of the time (libvips' Deflate alone takes minutes at full size).
read -r FW FH <<<"${FORMATS_SIZE:-40000 25000}"

W="$O/w"
[ -d /dev/shm ] && [ "$(df --output=avail -B1G /dev/shm | tail -1)" -gt 12 ] && W=/dev/shm/torvel-bench
fresh() { rm -rf "$W"; mkdir -p "$W"; }

# On a virtual machine, pages the guest freed a while ago go back to the
# host, and touching them again costs several times a plain write: a run
# that writes 4 GB after one that freed 3 GB pays for 1 GB of such pages,
# its peer none. Before every timed run, of torvel and of the peer alike,
# WARM_BYTES (5 GB; 0 skips it) are written to the output folder and deleted,
# so that every run starts from the same recently freed memory.
WARM_BYTES=${WARM_BYTES:-5000000000}
warm() {
  [ "$WARM_BYTES" -gt 0 ] || return 0
  head -c "$WARM_BYTES" /dev/zero >"$W/.warm" 2>/dev/null || true
  rm -f "$W/.warm"
}

# once CMD...: one run into a fresh output folder; appends "seconds peak-kB
# output-bytes" to $1.
once() {
  local into=$1; shift
  fresh
  warm
  sync
  /usr/bin/time -f "%e %M" -o "$O/time.log" "$@" >/dev/null 2>"$O/stderr.log" </dev/null ||
    { echo "FAILED: $*" >&2; cat "$O/stderr.log" >&2; }
  echo "$(tail -n 1 "$O/time.log") $(du -sb "$W" | cut -f1)" >>"$into"
}

median() { sort -n -k1,1 "$1" | sed -n "$(( (REPEAT + 1) / 2 ))p"; }

# pair NAME PEER-NAME INPUT TORVEL-ARGS... -- PEER-COMMAND...: one table row.
pair() {
  local name=$1 peer=$2 in=$3; shift 3
  local targs=() pcmd=()
  while [ "$1" != "--" ]; do targs+=("$1"); shift; done; shift
  pcmd=("$@")
  cat "$in" >/dev/null  # both read from the page cache
  : >"$O/t.runs"; : >"$O/p.runs"
  local out=(--out "$W")  # unless the job names its own output
  [[ " ${targs[*]} " == *" --out "* ]] && out=()
  for _ in $(seq "$REPEAT"); do
    once "$O/t.runs" $T "${targs[@]}" "${out[@]}" --quiet
    once "$O/p.runs" "${pcmd[@]}"
  done
  local ts tk tb ps pk pb
  read -r ts tk tb < <(median "$O/t.runs")
  read -r ps pk pb < <(median "$O/p.runs")
  printf "| %s | %s | %s | %s | %s | %s | %s |" "$name" "$ts" "$((tk / 1024))" "$peer" "$ps" "$((pk / 1024))" \
    "$(awk -v a="$ts" -v b="$ps" 'BEGIN{ if (b>0) printf "%.2f", a/b; else print "-" }')"
  [ -n "${SIZES:-}" ] && printf " %s | %s |" "$((tb / 1000000))" "$((pb / 1000000))"
  echo
}

header() {
  echo
  echo "| job | torvel s | torvel MB | peer | peer s | peer MB | ratio |"
  echo "|---|---|---|---|---|---|---|"
}

# image W H: an 8-bit RGB RAW and its uncompressed TIFF, named by size.
image() {
  local raw="$O/p$1_$1X$2.raw"
  [ -f "$raw" ] || $G "$raw" "$1" "$2" 8
  [ -f "$O/p$1.tif" ] || $T convert "$raw" --out "$O" --quiet >/dev/null
}

peers() {
  header
  for size in "30000 20000" "40000 25000"; do
    set -- $size
    image "$1" "$2"
    local in="$O/p$1.tif" label="$1 × $2" to=$(( $1 / 10 - 1 ))
    pair "$label TIFF → LZW TIFF" "vips copy" "$in" convert "$in" --format tif-lzw -- \
      vips copy "$in" "$W/v.tif[compression=lzw]"
    pair "$label resize to $to, slow" "vips resize lanczos3" "$in" resize "$in" --width "$to" --slow --format tif -- \
      vips resize "$in" "$W/v.tif" "$(awk -v a="$to" -v b="$1" 'BEGIN{printf "%.6f", a/b}')" --kernel lanczos3
    pair "$label resize to $to, fast" "gdal_translate nearest" "$in" resize "$in" --width "$to" --fast --format tif -- \
      gdal_translate -q -outsize "$to" 0 -r nearest "$in" "$W/g.tif"
    pair "$label split into 1000 × 800 tiles" "cp" "$in" split "$in" --tile 1000x800 -- cp "$in" "$W/copy"
  done
  # The preview the window shows: 1600 pixels wide, only the rows it needs.
  local pin="$O/p40000.tif"
  pair "40000 × 25000 preview, 1600 wide" "vips thumbnail" "$pin" preview "$pin" --width 1600 --out "$W/p.png" -- \
    vips thumbnail "$pin" "$W/v.png" 1600
  # A tiled LZW input as other programs write it, converted to a plain TIFF.
  local tiled="$O/tiled40000.tif"
  [ -f "$tiled" ] || tiffcp -m 0 -t -w 256 -l 256 -c lzw "$O/p40000.tif" "$tiled"
  pair "40000 × 25000 tiled LZW → TIFF" "vips copy" "$tiled" convert "$tiled" --format tif -- \
    vips copy "$tiled" "$W/v.tif"
}

streaming() {
  image 40000 25000
  [ -f "$O/deep_12000X8000.raw" ] || $G "$O/deep_12000X8000.raw" 12000 8000 16
  [ -f "$O/deep.tif" ] || $T convert "$O/deep_12000X8000.raw" --out "$O" --quiet >/dev/null
  local r8="$O/p40000_40000X25000.raw" t8="$O/p40000.tif" r16="$O/deep_12000X8000.raw"
  header
  pair "8-bit RAW → TIFF" "cp" "$r8" convert "$r8" -- cp "$r8" "$W/copy"
  pair "8-bit RAW → TIFF" "vips rawload" "$r8" convert "$r8" -- vips rawload "$r8" "$W/v.tif" 40000 25000 3
  pair "8-bit TIFF → RAW" "vips rawsave" "$t8" convert "$t8" --format raw -- vips rawsave "$t8" "$W/v.raw"
  pair "8-bit TIFF → KRO" "cp" "$t8" convert "$t8" --format kro -- cp "$t8" "$W/copy"
  pair "8-bit crop 10000 × 8000 (TIFF)" "vips crop" "$t8" crop "$t8" 5000 9000 10000 8000 -- \
    vips crop "$t8" "$W/v.tif" 5000 9000 10000 8000
  pair "16-bit RAW → TIFF" "vips rawload" "$r16" convert "$r16" -- vips rawload "$r16" "$W/v.tif" 12000 8000 6
  # Merge the tiles of a split back (vips: arrayjoin of the same tiles).
  local tiles="$O/tiles"
  rm -rf "$tiles"; mkdir -p "$tiles"
  $T split "$t8" --tile 1000x800 --out "$tiles" --quiet >/dev/null
  local ordered=()
  mapfile -t ordered < <(for y in $(seq 1 32); do for x in $(seq 1 40); do ls "$tiles"/*_x${x}y${y}.tif; done; done)
  pair "8-bit merge of 1280 tiles" "vips arrayjoin" "$t8" merge "${ordered[@]}" -- \
    vips arrayjoin "${ordered[*]}" "$W/v.tif" --across 40
  rm -rf "$tiles"
}

# ImageMagick's own policy caps images at 16000 pixels a side: lifted for its runs.
magick_policy() {
  mkdir -p "$O/magick"
  cat >"$O/magick/policy.xml" <<'XML'
<policymap>
  <policy domain="resource" name="width" value="1MP"/>
  <policy domain="resource" name="height" value="1MP"/>
  <policy domain="resource" name="area" value="4GP"/>
  <policy domain="resource" name="memory" value="16GiB"/>
  <policy domain="resource" name="map" value="16GiB"/>
  <policy domain="resource" name="disk" value="64GiB"/>
</policymap>
XML
  export MAGICK_CONFIGURE_PATH="$O/magick"
}

# solo NAME ARGS...: torvel alone, one row: seconds, peak MB, output MB.
solo() {
  local name=$1; shift
  : >"$O/t.runs"
  for _ in $(seq "$REPEAT"); do once "$O/t.runs" $T "$@" --out "$W" --quiet; done
  local ts tk tb
  read -r ts tk tb < <(median "$O/t.runs")
  printf "| %s | %s | %s | %s |\n" "$name" "$ts" "$((tk / 1024))" "$((tb / 1000000))"
}

formats() {
  image $FW $FH
  local t8="$O/p$FW.tif"
  echo; echo "Sizes in MB of output beside the times."
  echo "| job | torvel s | torvel MB | peer | peer s | peer MB | ratio | torvel out MB | peer out MB |"
  echo "|---|---|---|---|---|---|---|---|---|"
  for codec in deflate zstd; do
    local gdal=${codec^^}
    SIZES=1 pair "TIFF → $codec, predictor" "vips tiffsave" "$t8" convert "$t8" --compress "$codec" -- \
      vips tiffsave "$t8" "$W/v.tif" --compression "$codec" --predictor horizontal --bigtiff
    SIZES=1 pair "TIFF → $codec, predictor" "gdal_translate" "$t8" convert "$t8" --compress "$codec" -- \
      gdal_translate -q -co COMPRESS="$gdal" -co PREDICTOR=2 -co NUM_THREADS=ALL_CPUS -co BIGTIFF=YES "$t8" "$W/g.tif"
  done
  magick_policy
  [ -f "$O/p$FW.psb" ] || $T convert "$t8" --format psb --out "$O" --quiet >/dev/null
  REPEAT=1 SIZES=1 pair "TIFF → PSB (one run)" "convert" "$t8" convert "$t8" --format psb -- \
    /usr/bin/convert "$t8" "$W/c.psb"
  REPEAT=1 SIZES=1 pair "PSB → TIFF (one run)" "convert" "$O/p$FW.psb" convert "$O/p$FW.psb" -- \
    /usr/bin/convert "$O/p$FW.psb[0]" "$W/c.tif"
  echo; echo "Every output format of the $FW × $FH TIFF and back, torvel alone."
  echo "| job | s | peak MB | output MB |"
  echo "|---|---|---|---|"
  local back="$O/back"
  for f in "png" "jpg" "psb" "tif --compress deflate --tiled" "tif --compress zstd" "tif --compress jpeg --tiled 512" \
    "tif --compress webp --tiled"; do
    local args=(--format $f)
    solo "TIFF → $f" convert "$t8" "${args[@]}"
    rm -rf "$back"; mkdir -p "$back"
    $T convert "$t8" "${args[@]}" --out "$back" --quiet >/dev/null
    local file
    file=$(ls "$back"/*)
    REPEAT=1 solo "$f → RAW" convert "$file" --format raw
  done
  rm -rf "$back"
}

pyramids() {
  image $FW $FH
  local t8="$O/p$FW.tif"
  header
  pair "$FW × $FH TIFF → Deep Zoom, JPEG 85, 256, overlap 0" "vips dzsave" "$t8" \
    pyramid "$t8" --overlap 0 --no-viewer -- vips dzsave "$t8" "$W/v" --tile-size 256 --overlap 0 --suffix ".jpg[Q=85]"
  pair "$FW × $FH TIFF → pyramidal JPEG TIFF" "vips tiffsave" "$t8" \
    convert "$t8" --compress jpeg --pyramid -- \
    vips tiffsave "$t8" "$W/v.tif" --tile --pyramid --compression jpeg --Q 85 --bigtiff
  REPEAT=1 pair "$FW × $FH TIFF → raster tiles (one run)" "gdal2tiles -p raster" "$t8" \
    pyramid "$t8" --layout xyz -- gdal2tiles.py -q -p raster --processes="$(nproc)" "$t8" "$W/g"
}

case "$what" in
  peers) peers ;;
  streaming) streaming ;;
  formats) formats ;;
  pyramids) pyramids ;;
  all) peers; streaming; formats; pyramids ;;
  *) echo "usage: $0 [peers|streaming|formats|pyramids|all]" >&2; exit 2 ;;
esac
rm -rf "$W"

#!/usr/bin/env bash
# A batch spread over several machines with GNU parallel: every input image
# is one `torvel` run on whichever machine is free. Each machine needs torvel
# and sees the same folders (a shared file system); outputs are complete or
# absent, so a run that is stopped or fails leaves nothing half written.
#   examples/parallel.sh SSHLOGINS INPUT_DIR OUTPUT_DIR [torvel options...]
# SSHLOGINS as GNU parallel takes it: "4/node1,4/node2" (4 jobs on each), or
# ":" for this machine only.
#   examples/parallel.sh 2/node1,2/node2 /data/scans /data/small --format tif --compress zstd
set -euo pipefail
logins=$1 inputs=$2 outputs=$3
shift 3
find "$inputs" -type f \( -iname '*.tif' -o -iname '*.tiff' -o -iname '*.kro' -o -iname '*.raw' -o -iname '*.psb' \) -print0 |
  parallel -0 --sshlogin "$logins" --halt soon,fail=1 --joblog "$outputs/parallel.log" \
    torvel convert {} --out "$outputs" --quiet "$@"

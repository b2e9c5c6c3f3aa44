#!/usr/bin/env bash
# A batch as a Slurm job array: task N converts the N-th image of a list.
#   find /data/scans -name '*.tif' | sort > inputs.txt
#   sbatch --array=1-$(wc -l < inputs.txt)%32 examples/slurm-array.sh inputs.txt /data/small
# Each task holds a few MB (convert) or one tile (resize): ask for little memory.
#SBATCH --job-name=torvel
#SBATCH --cpus-per-task=4
#SBATCH --mem=1G
#SBATCH --time=01:00:00
#SBATCH --output=torvel-%A_%a.log
set -euo pipefail
list=$1 outputs=$2
input=$(sed -n "${SLURM_ARRAY_TASK_ID}p" "$list")
[ -n "$input" ] || { echo "no line ${SLURM_ARRAY_TASK_ID} in $list" >&2; exit 1; }
exec torvel convert "$input" --out "$outputs" --format tif --compress zstd --quiet --yes

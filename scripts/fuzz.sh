#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time from its seed
# corpus in tests/fuzz/corpus. Any crash, leak, sanitizer report or timeout
# fails the script; the input that caused it is left in build-fuzz/findings.
# Any single allocation above 1100 MB is a finding too: the readers' bounds
# (a row of tiles at most 1 GB, a decoded tile 256 MB) keep every legitimate
# one below it, so sizes a file declares but does not hold are caught (the
# corpus' "bomb" seed declares 1.2 GB tiles in a 255-byte file).
#   scripts/fuzz.sh [SECONDS-FOR-IMAGES]   (default 40; names and settings 10 each)
set -euo pipefail
cd "$(dirname "$0")/.."
images_seconds=${1:-40}
[ -f build-fuzz/build.ninja ] ||
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVEL_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_images fuzz_names fuzz_settings
mkdir -p build-fuzz/findings build-fuzz/tmp
export TMPDIR="$PWD/build-fuzz/tmp"
for job in "images $images_seconds" "names 10" "settings 10"; do
  set -- $job
  work=$(mktemp -d)  # new inputs go here, the seeds stay as committed
  echo "fuzz_$1: $2 s"
  build-fuzz/tests/fuzz/fuzz_$1 -max_total_time="$2" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1100 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/$1- "$work" tests/fuzz/corpus/$1 2>build-fuzz/fuzz_$1.log ||
    { tail -n 60 build-fuzz/fuzz_$1.log; rm -rf "$work"; exit 1; }
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" build-fuzz/fuzz_$1.log
  rm -rf "$work"
done

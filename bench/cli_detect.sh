#!/usr/bin/env bash
# bench/cli_detect.sh [BUILD] [COUNT]: `tarvek detect --jobs 2` over COUNT
# twelve-megapixel JPEGs (4000 x 3000, copies of the benchmark photograph) in a
# temporary folder, against reading and decoding the same files on 2 threads.
# BUILD is a build tree with the benchmarks (default: build).
set -euo pipefail
build=${1:-build}
count=${2:-200}
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

"$build/bench/write-photo" "$folder/0.jpg" 4000 3000 >/dev/null
for i in $(seq 1 $((count - 1))); do cp "$folder/0.jpg" "$folder/$i.jpg"; done

nanoseconds() { local start=$(date +%s%N); "$@" >/dev/null; echo $(($(date +%s%N) - start)); }
"$build/bench/decode-files" 2 "$folder"/*.jpg >/dev/null  # warms the page cache for both runs
decode=$(nanoseconds "$build/bench/decode-files" 2 "$folder"/*.jpg)
detect=$(nanoseconds "$build/tarvek" detect --jobs 2 --quiet "$folder")
awk -v n="$count" -v d="$decode" -v t="$detect" 'BEGIN {
    printf "tarvek detect --jobs 2: %.2f photos/s; decoding alone on 2 threads: %.2f photos/s; ratio %.2f\n",
           n * 1e9 / t, n * 1e9 / d, t / d }'

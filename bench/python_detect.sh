#!/usr/bin/env bash
# bench/python_detect.sh [BUILD] [COUNT] [ROUNDS]: photos per second over COUNT twelve-megapixel
# JPEGs (4000 x 3000, copies of the benchmark photograph) for `tarvek detect --jobs 2`, the Python
# package's find_document on 2 threads (and on 1, for the overlap), and `python3 -m tarvek.batch
# detect` on a local cluster of 2 worker processes (its start included), back to back in each
# round; ratios to the program. BUILD is a build tree with the benchmarks and the Python package.
set -euo pipefail
build=$(realpath "${1:-build}")
count=${2:-200}
rounds=${3:-1}
bench=$(dirname "$(realpath "$0")")
folder=$(mktemp -d)
out=$(mktemp -d)
trap 'rm -rf "$folder" "$out"' EXIT

"$build/bench/write-photo" "$folder/0.jpg" 4000 3000 >/dev/null
for i in $(seq 1 $((count - 1))); do cp "$folder/0.jpg" "$folder/$i.jpg"; done
export PYTHONPATH=$build/python
python=/usr/bin/python3

nanoseconds() { local start=$(date +%s%N); "$@" >/dev/null; echo $(($(date +%s%N) - start)); }
rate() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.2f", n * 1e9 / t }'; }
"$build/bench/decode-files" 2 "$folder"/*.jpg >/dev/null  # warms the page cache for every run
for round in $(seq 1 "$rounds"); do
    rm -rf "${out:?}"/*
    cli=$(nanoseconds "$build/tarvek" detect --jobs 2 --quiet "$folder")
    two=$(nanoseconds "$python" "$bench/python_threads.py" 2 "$folder"/*.jpg)
    one=$(nanoseconds "$python" "$bench/python_threads.py" 1 "$folder"/*.jpg)
    dask=$(nanoseconds "$python" -m tarvek.batch detect "$folder" --out "$out" --workers 2 --quiet)
    echo "round $round, photos/s: tarvek detect --jobs 2 $(rate "$count" "$cli"), find_document on 2 threads" \
         "$(rate "$count" "$two") (on 1: $(rate "$count" "$one")), tarvek.batch on 2 workers $(rate "$count" "$dask")"
    awk -v c="$cli" -v two="$two" -v one="$one" -v d="$dask" 'BEGIN {
        printf "  ratios to the program: find_document %.3f, tarvek.batch %.3f; 2 threads against 1: %.2f\n",
               c / two, c / d, one / two }'
done

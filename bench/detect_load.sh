#!/usr/bin/env bash
# POST /v1/document/detect with a 12 megapixel JPEG (4000 x 3000, quality 95) as
# raw body, with wrk at 2 and at 4 connections on loopback: requests/s, median and
# p99 latency, and the server's CPU time per request against the CPU time of
# cv::imdecode of the same file (bench/decode-files on one thread), measured just
# before and just after each wrk run.
# Usage: bench/detect_load.sh [BUILD] [seconds per run, default 15]
# BUILD is a Release build tree with the benchmarks (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/${1:-build}
seconds=${2:-15}
decodes=20
source bench/server.sh

work=$(mktemp -d)
cleanup() {
  [[ -n "${server_pid:-}" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

photo=$work/photo.jpg
"$build/bench/write-photo" "$photo" 4000 3000 95 >/dev/null
start_server "$build" "$work"
url="http://127.0.0.1:$port/v1/document/detect"
curl -sf --data-binary "@$photo" "$url" >/dev/null  # warms the server up

# CPU seconds (user + system) of one decode, over $decodes decodes in one process.
decode_seconds() {
  local files=() times
  for _ in $(seq "$decodes"); do files+=("$photo"); done
  times=$( { TIMEFORMAT='%3U %3S'; time "$build/bench/decode-files" 1 "${files[@]}" >/dev/null; } 2>&1 )
  awk -v t="$times" -v n="$decodes" 'BEGIN { split(t, f, " "); printf "%.5f", (f[1] + f[2]) / n }'
}

ticks=$(getconf CLK_TCK)
printf '%-11s %10s %10s %10s %14s %14s %6s\n' connections requests/s median p99 "CPU/request" "CPU/decode" ratio
for connections in 2 4; do
  before=$(decode_seconds)
  start=$(cpu_ticks "$server_pid")
  BODY_FILE=$photo wrk -t2 -c"$connections" -d"${seconds}s" --timeout 30s --latency -s bench/post_body.lua "$url" >"$work/wrk.txt"
  used=$(($(cpu_ticks "$server_pid") - start))
  after=$(decode_seconds)
  grep -qE '^ +Non-2xx|Socket errors' "$work/wrk.txt" && { cat "$work/wrk.txt" >&2; exit 1; }
  awk -v c="$connections" -v used="$used" -v hz="$ticks" -v d1="$before" -v d2="$after" '
    / requests in / { requests = $1 }
    /Requests\/sec:/ { rate = $2 }
    $1 == "50%" { median = $2 }
    $1 == "99%" { p99 = $2 }
    END {
      cpu = used / hz / requests; decode = (d1 + d2) / 2
      printf "%-11s %10.2f %10s %10s %11.1f ms %11.1f ms %6.2f   (decode before %.1f ms, after %.1f ms)\n",
             c, rate, median, p99, cpu * 1000, decode * 1000, cpu / decode, d1 * 1000, d2 * 1000
    }' "$work/wrk.txt"
done

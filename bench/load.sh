#!/usr/bin/env bash
# Load runs against a local tarvek-server with wrk, on loopback only:
#   (a) body "{}" at 32 connections, (b) a 1 MB JPEG as raw body at 4 connections.
# Usage: bench/load.sh [seconds per run, default 15]   (BUILD_DIR picks the build tree)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-15}
build=${BUILD_DIR:-build}

scripts/setup
scripts/build "$build" -DCMAKE_BUILD_TYPE=Release

work=$(mktemp -d)
server=
cleanup() {
  [[ -n "$server" ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$build/bench/write-photo" "$work/photo.jpg" 2000 1500 95
(cd "$work" && exec "$root/$build/tarvek-server" 0 2>stderr.txt) &
server=$!
port=
for _ in $(seq 100); do
  port=$(grep -oE 'running at 0\.0\.0\.0:[0-9]+' "$work/stderr.txt" 2>/dev/null | grep -oE '[0-9]+$' || true)
  [[ -n "$port" ]] && break
  sleep 0.1
done
[[ -n "$port" ]] || { echo "server did not start" >&2; exit 1; }

url="http://127.0.0.1:$port/recognize_receipt"
echo "== (a) body {} at 32 connections, ${seconds}s"
BODY_FILE= wrk -t2 -c32 -d"${seconds}s" --latency -s bench/post_body.lua "$url"
echo "== (b) 1 MB JPEG raw at 4 connections, ${seconds}s"
BODY_FILE="$work/photo.jpg" wrk -t2 -c4 -d"${seconds}s" --latency -s bench/post_body.lua "$url"

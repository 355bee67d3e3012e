#!/usr/bin/env bash
# Runs the web-service benchmark against the real program: a private Xvfb at
# 1920x1080 with a busy picture on the screen (drawn by capture_bench), the
# program in a network namespace of its own, capture_bench timing the
# program's /getss answers beside its least-work reference, and
# bench/http_bench as the client for the rest.
#   bench/run-http-bench.sh [requests]     (from the source tree, after a build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANTIS_BUILD_DIR:-$root/build}
requests=${1:-1000}

if [ -z "${ORVANTIS_BENCH_INNER:-}" ]; then
  export ORVANTIS_BENCH_INNER=1
  exec "$root/scripts/in-netns.sh" "$root/scripts/with-xvfb.sh" "$0" "$@"
fi

work=$(mktemp -d)
app=""
trap '[ -n "$app" ] && kill $app 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
cp "$root"/data/* "$work"/
mkdir -p "$work/home"

cd "$work"
HOME=$work/home "$build/orvantis" >/dev/null 2>&1 &
app=$!
for _ in $(seq 1 100); do
  (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null && break
  sleep 0.1
done
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"

# The capture benchmark paints its busy picture on the screen, then times
# the capture path, the least-work reference and the program's whole /getss
# answer (minus its 100 ms pause) in the same rounds, and prints the ratios.
echo "== capture path and /getss against the reference =="
"$build/bench/capture_bench" -n 30 --getss 80
echo
echo "== web service =="
"$build/bench/http_bench" 80 "$requests"

#!/usr/bin/env bash
# Runs the web-service benchmark against the real program: a private Xvfb at
# 1920x1080 with a busy picture on the screen, the program in a network
# namespace of its own, and bench/http_bench as the client.
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
trap 'kill $app 2>/dev/null; wait $app 2>/dev/null; rm -rf "$work"' EXIT
cp "$root"/data/* "$work"/
mkdir -p "$work/home"

# Noise and shapes: a screen that JPEG finds hard to compress.
python3 - "$work/busy.ppm" <<'PY'
import random, sys
w, h = 1920, 1080
rnd = random.Random(7)
row_cache = [bytes(rnd.getrandbits(8) for _ in range(w * 3)) for _ in range(64)]
with open(sys.argv[1], "wb") as f:
    f.write(b"P6 %d %d 255\n" % (w, h))
    for y in range(h):
        row = bytearray(row_cache[(y * 7) % 64])
        for x in range(0, w, 240):
            if (x // 240 + y // 135) % 2 == 0:
                row[x * 3:(x + 120) * 3] = bytes([(y * 3) % 256, 40, 200]) * 120
        f.write(row)
PY
"$build/bench/paint_root" "$work/busy.ppm"

cd "$work"
HOME=$work/home "$build/orvantis" >/dev/null 2>&1 &
app=$!
for _ in $(seq 1 100); do
  (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null && break
  sleep 0.1
done
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
"$build/bench/http_bench" 80 "$requests"

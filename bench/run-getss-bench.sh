#!/usr/bin/env bash
# Times the program's /getss on X11 (Xvfb) and on each headless Wayland
# desktop the tests know (tests/wayland/wlharness.py), in one run, each in
# turn in a network namespace of its own. Needs root (the Wayland desktops
# run as an ordinary user) and a build with the benchmarks.
#   bench/run-getss-bench.sh [requests] [x11|sway ...]    (after a build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export ORVANTIS_BUILD_DIR=${ORVANTIS_BUILD_DIR:-$root/build}
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
exec "$root/scripts/in-netns.sh" python3 -u "$root/bench/getss_desktops.py" "$@"

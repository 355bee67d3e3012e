#!/usr/bin/env bash
# Configures and builds Orvantis into build/ (or $ORVANTIS_BUILD_DIR); any
# arguments go to the configure step (e.g. -DORVANTIS_BUILD_TESTS=ON).
#
#   scripts/build.sh            the program, its tests and its benchmarks
#   scripts/build.sh --program  the program alone: a new build tree is
#                               configured without tests and benchmarks (so
#                               GoogleTest is not needed); one that has them
#                               keeps them, and only the program is built
#
# The build is warning-free (-Wall -Wextra); a warning that shows up is new.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANTIS_BUILD_DIR:-$root/build}
target=()
if [ "${1:-}" = --program ]; then
  shift
  target=(--target orvantis)
  [ -f "$build/CMakeCache.txt" ] || set -- -DORVANTIS_BUILD_TESTS=OFF -DORVANTIS_BUILD_BENCH=OFF "$@"
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" "${target[@]}"

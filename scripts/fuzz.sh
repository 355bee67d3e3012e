#!/usr/bin/env bash
# Builds the request-path fuzzer with clang, ASan and UBSan, and runs it for
# the given number of seconds (default 60) from the committed seed corpus.
# New inputs go to a scratch directory; the committed corpus stays small.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$root/scripts/install-deps.sh" sanitizers
build=${ORVANTIS_FUZZ_BUILD_DIR:-$root/build-fuzz}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANTIS_FUZZ=ON -DORVANTIS_ASAN=ON -DORVANTIS_BUILD_TESTS=OFF -DORVANTIS_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target request_fuzzer -j"$(nproc)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$build/request_fuzzer" -max_len=2048 -max_total_time="$seconds" -print_final_stats=1 \
  "$scratch" "$root/tests/fuzz/corpus" 2>&1 | tail -25

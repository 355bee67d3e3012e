#!/usr/bin/env bash
# Builds Orvantis with a sanitizer and runs the whole test suite under it.
#   scripts/sanitize.sh asan    AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   scripts/sanitize.sh tsan    ThreadSanitizer (build-tsan/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-asan}
case "$kind" in
  asan) option=-DORVANTIS_ASAN=ON ;;
  tsan) option=-DORVANTIS_TSAN=ON ;;
  *) echo "usage: $0 asan|tsan" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh" test
build=$root/build-$kind
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$option" -DORVANTIS_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure --timeout 600 -j"$(nproc)"

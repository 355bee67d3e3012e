#!/usr/bin/env bash
# Installs what is missing, builds Orvantis with its tests and benchmarks and
# runs every test. Tested on Debian 12 (bookworm) and 13 (trixie).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" test
"$root/scripts/build.sh" -DORVANTIS_BUILD_TESTS=ON -DORVANTIS_BUILD_BENCH=ON
cd "${ORVANTIS_BUILD_DIR:-$root/build}"
ctest --output-on-failure --timeout 600 -j"$(nproc)"

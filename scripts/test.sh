#!/usr/bin/env bash
# Installs what is missing, builds Orvantis with its tests and runs them all.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "${ORVANTIS_BUILD_DIR:-$root/build}"
ctest --output-on-failure --timeout 600 -j"$(nproc)"

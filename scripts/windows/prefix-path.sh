#!/usr/bin/env bash
# Prints the path of the static MinGW-w64 dependency prefix that
# build-deps.sh makes for the current source package versions.
# Builds nothing: exits 1 if that prefix is not (completely) built yet.
#
#   PREFIX=$(scripts/windows/prefix-path.sh) || scripts/windows/build-deps.sh
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=common.sh
. "$here/common.sh"

if ! dscs=$(orvantis_source_dscs); then
    echo "prefix-path: apt knows no source packages for ${ORVANTIS_WIN_SRC_PKGS[*]} (no deb-src?); run build-deps.sh" >&2
    exit 1
fi
key=$(orvantis_key_from_dscs "$dscs")
prefix=$(orvantis_prefix_for_key "$key")
if [ ! -f "$prefix/$ORVANTIS_WIN_STAMP" ]; then
    echo "prefix-path: $prefix is not built; run build-deps.sh" >&2
    exit 1
fi
printf '%s\n' "$prefix"

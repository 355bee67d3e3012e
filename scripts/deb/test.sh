#!/usr/bin/env bash
# Tests the Debian package end to end, as root on a Debian 12 or 13 machine
# that may be changed (CI): builds it (scripts/deb/build.sh: lintian must find
# no error), installs it with dpkg, starts it the way its desktop entry does
# under a private Xvfb, fetches the page, /bg.gif and a screenshot, and
# removes it again (tests/deb/test_deb_package.py), in a network namespace
# of its own.
#
# Environment:
#   ORVANTIS_DEB_BUILD_DIR   build tree (default: build-deb in the tree)
#   ORVANTIS_DEB_SKIP_BUILD  1: use the package in the build tree as it is
set -euo pipefail
exec </dev/null

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export ORVANTIS_DEB_BUILD_DIR=${ORVANTIS_DEB_BUILD_DIR:-$repo/build-deb}
export LC_ALL=C

log() { printf '[deb-test] %s\n' "$*" >&2; }
[ "$(id -u)" -eq 0 ] || { log "ERROR: installing the package needs root"; exit 1; }
t_start=$(date +%s)

if [ "${ORVANTIS_DEB_SKIP_BUILD:-0}" != 1 ]; then
    "$repo/scripts/deb/build.sh"
fi
# The test's own tools (Xvfb, xdotool, python3): those of the test suite.
"$repo/scripts/install-deps.sh" test-x11 >&2
for t in Xvfb xdotool unshare python3; do
    command -v "$t" >/dev/null || { log "ERROR: $t not found (scripts/install-deps.sh)"; exit 1; }
done

set +e
timeout -k 10 300 "$repo/scripts/in-netns.sh" python3 -u "$repo/tests/deb/test_deb_package.py"
rc=$?
set -e
log "done in $(( $(date +%s) - t_start ))s: $([ "$rc" -eq 0 ] && echo passed || echo "FAILED (exit $rc)")"
exit "$rc"

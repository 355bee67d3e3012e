#!/usr/bin/env bash
# Tests the Windows build under Wine:
#
#   1. installs what is missing (wine64, Xvfb, xdotool, xprop, djpeg, ss),
#   2. builds orvantis.exe, the package and the test programs
#      (scripts/windows/build.sh; a few seconds when nothing changed),
#   3. makes a fresh Wine prefix in a temporary directory,
#   4. runs each part of tests/windows/ in a network namespace of its own
#      (scripts/in-netns.sh: loopback only, so ports 80 and 8888 are free and
#      nothing leaves the machine) and, as root, under the computer name
#      orvantis-pc, which no hosts file or name server knows, as a Windows
#      PC's name usually is; then the unit tests under Wine,
#   5. prints the counts; the exit status is 0 only when all passed.
#
# Environment:
#   ORVANTIS_WIN_BUILD_DIR   build tree (default: build-windows in the tree)
#   ORVANTIS_WIN_SKIP_BUILD  1: use the build tree as it is
#   ORVANTIS_WIN_PARTS       test modules to run (default: all test_win_*.py)
#   ORVANTIS_WIN_KEEP        1: keep the temporary directory (prefix, logs);
#                            after a failure the logs are kept anyway
#   ORVANTIS_WIN_PART_TIMEOUT  seconds one part may take (default 150)
set -euo pipefail
exec </dev/null

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
export ORVANTIS_WIN_BUILD_DIR=${ORVANTIS_WIN_BUILD_DIR:-$repo/build-windows}
case $ORVANTIS_WIN_BUILD_DIR in /*) ;; *) ORVANTIS_WIN_BUILD_DIR=$PWD/$ORVANTIS_WIN_BUILD_DIR ;; esac
build=$ORVANTIS_WIN_BUILD_DIR
part_timeout=${ORVANTIS_WIN_PART_TIMEOUT:-150}   # seconds for one part, to bound a hung Wine

export LC_ALL=C
export DEBIAN_FRONTEND=noninteractive

log() { printf '[win-test] %s\n' "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }

t_start=$(date +%s)

# ------------------------------------------------------------- packages ----

# Debian 12: the "wine" package holds the wrapper and wineserver; wine64 the
# 64-bit loader it runs (/usr/lib/wine/wine64). No 32-bit Wine is needed.
need_pkgs=(wine wine64 xvfb xdotool x11-utils libjpeg-turbo-progs iproute2 util-linux python3)
missing=()
for p in "${need_pkgs[@]}"; do
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)" = installed ] || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    [ "$(id -u)" -eq 0 ] || die "installing ${missing[*]} needs root"
    log "apt-get install ${missing[*]}"
    if ! apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}" >/tmp/orvantis-wintest-apt.log 2>&1; then
        apt-get -o DPkg::Lock::Timeout=600 update >>/tmp/orvantis-wintest-apt.log 2>&1 || true
        apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}" >>/tmp/orvantis-wintest-apt.log 2>&1 ||
            { tail -n 20 /tmp/orvantis-wintest-apt.log >&2; die "apt-get install failed"; }
    fi
fi
for t in wine wineserver wineboot Xvfb xdotool xprop djpeg ss unshare timeout; do
    command -v "$t" >/dev/null || die "$t not found"
done

# ---------------------------------------------------------------- build ----

if [ "${ORVANTIS_WIN_SKIP_BUILD:-0}" != 1 ]; then
    "$here/build.sh"
fi
for f in "$build/orvantis.exe" "$build/tests-windows/keyprobe.exe"; do
    [ -f "$f" ] || die "missing $f (run scripts/windows/build.sh)"
done
zips=("$build"/Orvantis-*-Windows.zip)
[ -f "${zips[0]}" ] || die "no package in $build (run scripts/windows/build.sh)"

# ---------------------------------------------------------- Wine prefix ----

tmp=$(mktemp -d /tmp/orvantis-wintest.XXXXXX)
export WINEPREFIX=$tmp/prefix
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs: the program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export ORVANTIS_WIN_RESULTS=$tmp/results.jsonl
: >"$ORVANTIS_WIN_RESULTS"

stop_wine() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    timeout 30 wineserver -w >/dev/null 2>&1 || true
}
# shellcheck disable=SC2317  # called through the trap
cleanup() {
    local rc=$?
    stop_wine
    if [ "${ORVANTIS_WIN_KEEP:-0}" = 1 ]; then
        log "kept $tmp (prefix, logs)"
    elif [ "$rc" -ne 0 ]; then
        # The logs stay for a look; the prefix (some 700 MB) does not.
        rm -rf "$WINEPREFIX"
        log "logs kept in $tmp"
    else
        rm -rf "$tmp"
    fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every part runs under a computer name that only the PC itself knows, as a
# Windows PC's name usually is: no hosts file or name server here answers
# it. The program must not depend on the host's resolver for its own name.
# (Root only: without root the machine's name stays.)
ns=("$repo/scripts/in-netns.sh")
if [ "$(id -u)" -eq 0 ]; then
    ns=(unshare -u -- sh -c 'hostname orvantis-pc && exec "$@"' in-uts "${ns[@]}")
fi

log "new Wine prefix $WINEPREFIX"
t0=$(date +%s)
# In a namespace of its own like every part: the wineserver it starts must
# not outlive it into the next one.
timeout -k 10 120 "${ns[@]}" "$repo/scripts/with-xvfb.sh" \
    sh -c 'wineboot -i && wineserver -w' >"$tmp/wineboot.log" 2>&1 ||
    { tail -n 20 "$tmp/wineboot.log" >&2; die "wineboot -i failed"; }
stop_wine
log "prefix ready in $(( $(date +%s) - t0 ))s"

# ---------------------------------------------------------------- parts ----

failed_parts=()
if [ -n "${ORVANTIS_WIN_PARTS:-}" ]; then
    read -r -a parts <<<"$ORVANTIS_WIN_PARTS"
else
    parts=()
    for f in "$repo"/tests/windows/test_win_*.py; do parts+=("$(basename "$f")"); done
fi

for part in "${parts[@]}"; do
    log "part $part"
    set +e
    timeout -k 10 "$part_timeout" "${ns[@]}" \
        python3 -u "$repo/tests/windows/$part" 2>&1 | tee "$tmp/${part%.py}.log"
    rc=${PIPESTATUS[0]}
    set -e
    stop_wine
    if [ "$rc" -ne 0 ]; then
        failed_parts+=("${part%.py} (exit $rc)")
    fi
done

# ---------------------------------------------------------- unit tests ----

unit=$build/tests-windows/orvantis_unit_tests.exe
if [ -f "$unit" ]; then
    log "unit tests"
    set +e
    (cd "$tmp" && timeout -k 10 "$part_timeout" "${ns[@]}" \
        wine "$unit" --gtest_output=json:unit.json) 2>&1 | tee "$tmp/unit.log" |
        grep -E '^\[  (FAILED|PASSED) |^\[==========\]|Failure$' || true
    rc=${PIPESTATUS[0]}
    set -e
    stop_wine
    if [ "$rc" -ne 0 ]; then
        grep -v '^\[ \+\(RUN\|OK\) \+\]' "$tmp/unit.log" | tail -n 60 >&2
        failed_parts+=("orvantis_unit_tests.exe (exit $rc)")
    fi
    python3 - "$tmp/unit.json" >>"$ORVANTIS_WIN_RESULTS" <<'EOF' || failed_parts+=("unit results")
import json, sys
with open(sys.argv[1]) as f:
    r = json.load(f)
failed = r["failures"] + r.get("errors", 0)
print(json.dumps({"part": "orvantis_unit_tests.exe", "run": r["tests"], "failed": failed,
                  "skipped": r.get("disabled", 0), "passed": r["tests"] - failed,
                  "seconds": float(r.get("time", "0s").rstrip("s"))}))
EOF
else
    log "no orvantis_unit_tests.exe (built with ORVANTIS_WIN_UNIT_TESTS=0): unit tests not run"
fi

# ------------------------------------------------------------- summary ----

secs=$(( $(date +%s) - t_start ))
set +e
python3 - "$ORVANTIS_WIN_RESULTS" "$secs" "${failed_parts[@]}" <<'EOF'
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
secs, failed_parts = sys.argv[2], sys.argv[3:]
print()
for r in rows:
    print("  %-28s %3d passed, %d failed, %d skipped  (%.1f s)" % (r["part"], r["passed"], r["failed"],
                                                                  r["skipped"], r["seconds"]))
for p in failed_parts:
    print("  FAILED: " + p)
passed = sum(r["passed"] for r in rows)
failed = sum(r["failed"] for r in rows)
skipped = sum(r["skipped"] for r in rows)
# A part that ended without counting (killed, crashed) counts as one failure.
counted = {r["part"] for r in rows}
failed += len([p for p in failed_parts if p.split(" ")[0] not in counted])
print("whole run: %s s" % secs)
print("windows: %d passed, %d failed, %d skipped" % (passed, failed, skipped))
sys.exit(1 if failed or failed_parts else 0)
EOF
rc=$?
set -e
exit "$rc"

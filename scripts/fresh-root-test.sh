#!/usr/bin/env bash
# Builds Orvantis and runs its tests in a fresh Debian root, as a newcomer's
# machine of that release would: the root is made with mmdebstrap from this
# machine's Debian mirror, the tree is copied in, and scripts/install-deps.sh
# and scripts/build.sh run there as the README's commands do. Then the
# Debian package that scripts/deb/build.sh builds here (on Debian 12, the
# release the published package is built on) is installed there with apt,
# started, and its page, background and screenshot are fetched
# (scripts/deb/test.sh). Needs root; the root is deleted at the end, with
# anything still running in it.
#
#   scripts/fresh-root-test.sh [SUITE]      SUITE: trixie (default) or bookworm
#
# Environment:
#   ORVANTIS_ROOT_TESTS  which tests run in the root: a ctest -R expression,
#                        "all" for the whole suite (default: the server,
#                        answers, capture and main window tests; the whole
#                        suite takes about two minutes more)
#   ORVANTIS_ROOT_CACHE  kept between runs (default /var/cache/orvantis-roots/
#                        SUITE): the downloaded packages, which apt checks
#                        against the signed package lists before using them
#                        and drops once the archive no longer has them, and
#                        a ccache of the build, whose entries are keyed on
#                        the compiler and the preprocessed sources
#   ORVANTIS_ROOT_KEEP   1 keeps the root (its path is printed)
set -euo pipefail
exec </dev/null

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
suite=${1:-trixie}
tests=${ORVANTIS_ROOT_TESTS:-'^(x11_tests.*|gui_tests|it_test_server|it_test_answers|netns_lookup_lo_only)$'}
cache=${ORVANTIS_ROOT_CACHE:-/var/cache/orvantis-roots/$suite}
export LC_ALL=C DEBIAN_FRONTEND=noninteractive

log() { printf '[fresh-root %s] %s\n' "$suite" "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }
t_start=$(date +%s)
t_last=$t_start
phase() {   # prints the time the last phase took
  local now; now=$(date +%s)
  log "$1 took $(( now - t_last ))s"
  t_last=$now
}

[ "$(id -u)" -eq 0 ] || die "making and entering a root needs root"
case $suite in bookworm|trixie) ;; *) die "suite $suite: bookworm or trixie" ;; esac

"$repo/scripts/install-deps.sh" roots >&2

# ----------------------------------------------------------- the mirror ----

# "URI SUITE" for every enabled "deb" entry of this machine's apt sources,
# one-line and deb822 files alike.
apt_entries() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '$1 == "deb" { i = 2; if ($2 ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
                       print $i, $(i + 1) }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk '
      function flush(   n, i, u, s) {
        if (types ~ /(^|[ \t])deb([ \t]|$)/ && tolower(enabled) != "no") {
          n = split(uris, u, /[ \t]+/); split(suites, s, /[ \t]+/)
          for (i = 1; i <= n; i++) if (u[i] != "") for (j in s) if (s[j] != "") print u[i], s[j]
        }
        types = uris = suites = enabled = ""
      }
      /^#/ { next }
      /^[ \t]*$/ { flush(); next }
      { key = tolower($0); sub(/:.*/, "", key); val = $0; sub(/^[^:]*:[ \t]*/, "", val) }
      key == "types" { types = val } key == "uris" { uris = val }
      key == "suites" { suites = val } key == "enabled" { enabled = val }
      END { flush() }' "$f"
  done
}
entries=$(apt_entries)
mirror=$(printf '%s\n' "$entries" | awk '$2 ~ /^(bookworm|trixie)(-updates)?$/ { print $1; exit }')
security=$(printf '%s\n' "$entries" | awk '$2 ~ /^(bookworm|trixie)-security$/ { print $1; exit }')
mirror=${mirror:-http://deb.debian.org/debian}
security=${security:-http://deb.debian.org/debian-security}
log "mirror $mirror, security $security"

# ------------------------------------------------------- the root itself ----

mkdir -p "$cache/archives" "$cache/ccache"
exec 9>"$cache.lock"
flock 9   # one run per cache at a time

work=$(mktemp -d /var/tmp/orvantis-root.XXXXXX)
root=$work/root
cleanup() {
  local rc=$? p mnt
  set +e
  # Whatever still runs inside the root ends with it.
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  sleep 0.5
  # Innermost mounts first.
  findmnt -rn -o TARGET | grep -F "$root/" | sort -r | while read -r mnt; do
    umount -l "$mnt" 2>/dev/null
  done
  if [ "${ORVANTIS_ROOT_KEEP:-0}" = 1 ]; then
    log "kept the root: $root"
  else
    rm -rf --one-file-system "$work"
  fi
  log "$([ "$rc" -eq 0 ] && echo passed || echo "FAILED (exit $rc)") in $(( $(date +%s) - t_start ))s"
}
trap cleanup EXIT

log "mmdebstrap $suite into $root (packages cached in $cache)"
# dpkg skips its fsync calls in this throwaway root (force-unsafe-io).
mmdebstrap --mode=root --variant=important --include=sudo,git,ca-certificates \
  --dpkgopt=force-unsafe-io \
  --skip=download/empty --skip=essential/unlink \
  --setup-hook='mkdir -p "$1"/var/cache/apt/archives/' \
  --setup-hook="sync-in $cache/archives /var/cache/apt/archives/" \
  --customize-hook="sync-out /var/cache/apt/archives $cache/archives" \
  "$suite" "$root" \
  "deb $mirror $suite main" "deb $mirror $suite-updates main" "deb $security $suite-security main" \
  >"$work/mmdebstrap.log" 2>&1 || { tail -n 30 "$work/mmdebstrap.log" >&2; die "mmdebstrap failed"; }
phase "making the root"

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
# Packages downloaded in the root land in the cache as well.
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
mkdir -p "$root/var/cache/ccache"
mount --bind "$cache/ccache" "$root/var/cache/ccache"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

# The tree as it is here, tracked files and new ones, without build trees.
mkdir -p "$root/src"
(cd "$repo" && git ls-files -z --cached --others --exclude-standard |
  tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$root/src"

in_root() {   # runs a shell command in the root, as root, in /src
  chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM=dumb CI=true bash -c "cd /src && $1"
}

# --------------------------------------------------- build and test there ----

# The Wayland desktops (GNOME Shell, KWin and sway with their portals: the
# larger part of the download) only when their tests run.
deps_mode=test-x11
case $tests in all|*wl_*) deps_mode=test ;; esac
in_root "scripts/install-deps.sh $deps_mode" >"$work/install.log" 2>&1 ||
  { tail -n 30 "$work/install.log" >&2; die "scripts/install-deps.sh $deps_mode failed in the root"; }
grep -E '^(Installing|install-deps)' "$work/install.log" | cut -c1-300 >&2 || true
phase "installing the dependencies"

# ccache is the stage's own addition, not the newcomer's.
in_root 'apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends ccache' >>"$work/install.log" 2>&1 ||
  { tail -n 30 "$work/install.log" >&2; die "cannot install ccache in the root"; }
in_root 'export CCACHE_DIR=/var/cache/ccache CCACHE_MAXSIZE=2G && ccache -z >/dev/null &&
         scripts/build.sh -DORVANTIS_BUILD_TESTS=ON -DORVANTIS_BUILD_BENCH=OFF \
           -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache &&
         ccache -s | grep -Ei "^ *(hits|misses)|cache hit"' >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; die "the build failed in the root"; }
if grep -q 'warning:' "$work/build.log"; then
  grep 'warning:' "$work/build.log" >&2
  log "the build has warnings there"
fi
grep -Ei '^ *(hits|misses)|cache hit' "$work/build.log" | sed 's/^ */ccache: /' >&2 || true
phase "building (tests included, benchmarks left out)"

if [ "$tests" = all ]; then only=(); else only=(-R "$tests"); fi
in_root "cd build && ctest --output-on-failure --timeout 600 -j$(nproc) ${only[*]@Q}" ||
  die "tests failed in the root"
phase "the tests"

# ------------------------------------------------------ the Debian package ----

log "building the package here ($(. /etc/os-release && echo "$PRETTY_NAME"))"
"$repo/scripts/deb/build.sh" >"$work/deb-build.log" 2>&1 ||
  { tail -n 30 "$work/deb-build.log" >&2; die "scripts/deb/build.sh failed"; }
debs=("${ORVANTIS_DEB_BUILD_DIR:-$repo/build-deb}"/orvantis_*_amd64.deb)
[ -f "${debs[0]}" ] && [ ${#debs[@]} -eq 1 ] || die "expected one orvantis_*_amd64.deb from scripts/deb/build.sh"
mkdir -p "$root/debs"
cp "${debs[0]}" "$root/debs/"
deb=/debs/$(basename "${debs[0]}")
phase "building the package"

log "apt install $deb in the root"
in_root "apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends $deb >/tmp/apt-deb.log 2>&1 ||
         { tail -n 20 /tmp/apt-deb.log; exit 1; }
         dpkg-query -W -f='\${Package} \${Version} installed\n' orvantis
         dpkg --purge orvantis >/dev/null" || die "the package does not install in the root"
# Installed with dpkg again, started as its menu entry does, page fetched.
in_root "ORVANTIS_DEB_SKIP_BUILD=1 ORVANTIS_DEB_BUILD_DIR=/debs scripts/deb/test.sh" ||
  die "the package does not serve its page in the root"
phase "installing and running the package"

in_root 'apt-get -q autoclean >/dev/null' || true

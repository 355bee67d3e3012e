#!/usr/bin/env bash
# Builds the Debian package (amd64) for the Debian release this machine runs:
#
#   build-deb/orvantis_<version>_amd64.deb
#
# and checks it with lintian (fails on an error). Installs what is missing
# for that first (scripts/install-deps.sh package: the build tools and
# libraries, dpkg-dev, lintian; not the test tools), which needs root.
#
# The published package is built on Debian 12, the oldest release supported:
# its dependencies then hold on Debian 12 and 13 alike (Debian 13's renamed
# libwxgtk3.2-1t64 provides the old name). Built on a later release, the
# package depends on that release's library names and does not install on an
# older one, so its version names the release: 1.0.3+deb13 and so on.
#
# The program is compiled with Debian's hardening flags (dpkg-buildflags)
# and CMake's build type None, so those flags are all it gets; the package's
# dependencies come from dpkg-shlibdeps (CPack DEB).
#
# Environment:
#   ORVANTIS_DEB_BUILD_DIR   build tree (default: build-deb in the tree)
#   ORVANTIS_DEB_JOBS        parallel compile jobs (default: nproc)
set -euo pipefail
exec </dev/null

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${ORVANTIS_DEB_BUILD_DIR:-$repo/build-deb}
case $build in /*) ;; *) build=$PWD/$build ;; esac
jobs=${ORVANTIS_DEB_JOBS:-$(nproc)}
export LC_ALL=C
export DEBIAN_FRONTEND=noninteractive

log() { printf '[deb-build] %s\n' "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }
t_start=$(date +%s)

"$repo/scripts/install-deps.sh" package

# The release the package is built for: none named on Debian 12 (the
# published build), +debNN on any other.
version=$(sed -n 's/^project(Orvantis VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
[ -n "$version" ] || die "no project version in CMakeLists.txt"
release=$(. /etc/os-release && echo "${ID:-}:${VERSION_ID:-}")
case $release in
    debian:12) ;;
    debian:[0-9]*) version=$version+deb${release#debian:} ;;
    *) log "release $release has no number: the version is left as it is" ;;
esac

log "configuring $build"
mkdir -p "$build"
# hardening=+all adds -z now (full RELRO) to the defaults.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake -S "$repo" -B "$build" \
    -DCMAKE_BUILD_TYPE=None \
    -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DORVANTIS_DEB_PACKAGE=ON \
    -DORVANTIS_DEB_VERSION="$version" \
    -DORVANTIS_BUILD_TESTS=OFF \
    -DORVANTIS_BUILD_BENCH=OFF >"$build/configure.log" 2>&1 ||
    { tail -n 40 "$build/configure.log" >&2; die "configure failed (log: $build/configure.log)"; }

log "building"
cmake --build "$build" -j "$jobs"

log "packing"
rm -f "$build"/orvantis_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) ||
    { tail -n 40 "$build/cpack.log" >&2; die "cpack failed (log: $build/cpack.log)"; }
debs=("$build"/orvantis_*_amd64.deb)
[ -f "${debs[0]}" ] || die "cpack made no orvantis_*_amd64.deb"
deb=${debs[0]}
log "$(basename "$deb"): $(dpkg-deb -f "$deb" Version), depends on $(dpkg-deb -f "$deb" Depends)"

log "lintian"
# Errors fail the build; warnings are printed (the package has none today).
lintian --tag-display-limit 0 "$deb" | tee "$build/lintian.log" >&2 || true
if grep -q '^E: ' "$build/lintian.log"; then
    die "lintian found errors in $(basename "$deb")"
fi
log "done in $(( $(date +%s) - t_start ))s: $deb"

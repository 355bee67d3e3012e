#!/usr/bin/env bash
# Builds (or reuses) the static MinGW-w64 x86_64 prefix that the Windows
# cross-build links against: zlib, libpng, libjpeg-turbo and wxWidgets 3.2
# (MSW port), each built from Debian's own source package with Debian's
# patches applied.
#
# The prefix is cached under /var/cache/orvantis-win/prefix-<key> (root dir
# overridable with ORVANTIS_WIN_CACHE); the key changes with the source
# package versions and with ORVANTIS_WIN_RECIPE in common.sh. A complete
# prefix is reused at once. Progress goes to stderr, the prefix path is the
# last line on stdout:
#
#   PREFIX=$(scripts/windows/build-deps.sh)
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DORVANTIS_WIN_PREFIX="$PREFIX" ...
#
# Needs root for apt (toolchain packages, deb-src entry) on first use.
set -euo pipefail
exec </dev/null

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
toolchain_file="$repo/cmake/mingw-w64-x86_64.cmake"
# shellcheck source=common.sh
. "$here/common.sh"

export DEBIAN_FRONTEND=noninteractive
export LC_ALL=C

HOST=$ORVANTIS_WIN_HOST
CC_W=$HOST-gcc-posix
CXX_W=$HOST-g++-posix
JOBS=2

TOOL_PKGS=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
           mingw-w64-tools nasm cmake make pkg-config dpkg-dev xz-utils)
DEB_SRC_FILE=/etc/apt/sources.list.d/orvantis-deb-src.sources

cache_root=$(orvantis_cache_root)
t_start=$(date +%s)

log() { printf '[build-deps] %s\n' "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }

mkdir -p "$cache_root/src"
apt_log="$cache_root/src/apt.log"

# One build at a time per cache root; a second caller waits and then finds
# the finished prefix.
exec 9>"$cache_root/.lock"
if ! flock -n 9; then
    log "another build-deps.sh holds $cache_root/.lock; waiting"
    flock 9
fi

# ---------------------------------------------------------------- apt ------

need_root() {
    [ "$(id -u)" -eq 0 ] || die "$1 needs root"
}

apt_updated=0
apt_update() {
    [ "$apt_updated" -eq 0 ] || return 0
    need_root "apt-get update"
    log "apt-get update"
    if ! apt-get -o DPkg::Lock::Timeout=600 update >>"$apt_log" 2>&1; then
        tail -n 30 "$apt_log" >&2
        die "apt-get update failed (log: $apt_log)"
    fi
    apt_updated=1
}

missing_tool_pkgs() {
    local p
    for p in "${TOOL_PKGS[@]}"; do
        if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)" != installed ]; then
            printf '%s\n' "$p"
        fi
    done
}

install_tool_pkgs() {
    local missing
    mapfile -t missing < <(missing_tool_pkgs)
    [ "${#missing[@]}" -gt 0 ] || return 0
    need_root "installing ${missing[*]}"
    apt_update
    log "apt-get install ${missing[*]}"
    if ! apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends \
            -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold \
            "${missing[@]}" >>"$apt_log" 2>&1; then
        tail -n 30 "$apt_log" >&2
        die "apt-get install failed (log: $apt_log)"
    fi
}

# Does any enabled apt source (one-line or deb822 format) give deb-src for
# bookworm?
have_bookworm_deb_src() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        grep -Eq '^[[:space:]]*deb-src[[:space:]].*[[:space:]]bookworm([[:space:]]|$)' "$f" && return 0
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '
            function check() {
                if (types ~ /(^|[ \t])deb-src([ \t]|$)/ && suites ~ /(^|[ \t])bookworm([ \t]|$)/ &&
                    tolower(enabled) != "no") found = 1
                types = suites = enabled = ""
            }
            /^#/ { next }
            /^[ \t]*$/ { check(); next }
            tolower($0) ~ /^types:/   { sub(/^[^:]*:/, ""); types = $0 }
            tolower($0) ~ /^suites:/  { sub(/^[^:]*:/, ""); suites = $0 }
            tolower($0) ~ /^enabled:/ { sub(/^[^:]*:[ \t]*/, ""); enabled = $0 }
            END { check(); exit found ? 0 : 1 }
        ' "$f" && return 0
    done
    return 1
}

# deb822 stanzas mirroring the machine's Debian archive "deb" entry for
# bookworm (same URIs, components and Signed-By), as deb-src. The security
# archive is left out: sources are taken from the bookworm suite only. A
# machine with no bookworm entry (Debian 13, say, in either file format) gets
# the default Debian archive's bookworm entry.
deb_src_stanzas() {
    local f=/etc/apt/sources.list.d/debian.sources body=""
    if [ -f "$f" ]; then
        body=$(awk '
            function flush(   i, n, s, keep) {
                if (types ~ /(^|[ \t])deb([ \t]|$)/ && tolower(enabled) != "no" && uris != "") {
                    n = split(suites, s, /[ \t]+/); keep = ""
                    for (i = 1; i <= n; i++)
                        if (s[i] ~ /^bookworm(-updates)?$/) keep = keep " " s[i]
                    if (keep != "") {
                        printf "Types: deb-src\nURIs:%s\nSuites:%s\nComponents:%s\n", uris, keep, comps
                        if (signed != "") printf "Signed-By:%s\n", signed
                        printf "\n"
                    }
                }
                types = uris = suites = comps = signed = enabled = ""; last = ""
            }
            /^#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[ \t]/ { if (last == "signed") signed = signed "\n" $0; next }   # continuation
            {
                key = tolower($0); sub(/:.*/, "", key); val = $0; sub(/^[^:]*:/, "", val)
                last = ""
                if (key == "types") types = val
                else if (key == "uris") uris = val
                else if (key == "suites") suites = val
                else if (key == "components") comps = val
                else if (key == "signed-by") { signed = val; last = "signed" }
                else if (key == "enabled") { enabled = val; gsub(/[ \t]/, "", enabled) }
            }
            END { flush() }
        ' "$f")
    fi
    # Older one-line format.
    if [ -z "$body" ] && [ -f /etc/apt/sources.list ] &&
       grep -Eq '^[[:space:]]*deb[[:space:]].*[[:space:]]bookworm([[:space:]]|$)' /etc/apt/sources.list; then
        body=$(awk '$1 == "deb" {
                i = 2; signed = ""
                if ($2 ~ /^\[/) {
                    for (; i <= NF; i++) {
                        if ($i ~ /^\[?signed-by=/) { signed = $i; sub(/^\[?signed-by=/, "", signed); sub(/\]$/, "", signed) }
                        if ($i ~ /\]$/) { i++; break }
                    }
                }
                uri = $i; suite = $(i + 1); comps = ""
                for (j = i + 2; j <= NF; j++) comps = comps " " $j
                if (suite ~ /^bookworm(-updates)?$/) {
                    printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:%s\n", uri, suite, comps
                    if (signed != "") printf "Signed-By: %s\n", signed
                    printf "\n"
                }
            }' /etc/apt/sources.list)
    fi
    if [ -n "$body" ]; then
        printf '%s\n\n' "$body"
    else
        printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n'
    fi
}

ensure_deb_src() {
    have_bookworm_deb_src && return 0
    need_root "adding a deb-src entry"
    local body
    body=$(deb_src_stanzas)
    [ -n "$body" ] || die "found no Debian bookworm archive entry to mirror as deb-src"
    log "adding $DEB_SRC_FILE"
    {
        echo "# Added by orvantis scripts/windows/build-deps.sh: Debian source packages"
        echo "# for the Windows cross-build dependencies."
        printf '%s\n' "$body"
    } >"$DEB_SRC_FILE"
    apt_updated=0
    apt_update
}

# --------------------------------------------------------- cache check ------

ensure_deb_src
install_tool_pkgs

if ! dscs=$(orvantis_source_dscs); then
    # deb-src configured but its index never fetched (or stale lists).
    apt_update
    dscs=$(orvantis_source_dscs) || die "apt-get source cannot find ${ORVANTIS_WIN_SRC_PKGS[*]}"
fi
key=$(orvantis_key_from_dscs "$dscs")
prefix=$(orvantis_prefix_for_key "$key")

if [ -f "$prefix/$ORVANTIS_WIN_STAMP" ]; then
    log "cached prefix for key $key"
    printf '%s\n' "$prefix"
    exit 0
fi

for t in "$CC_W" "$CXX_W" "$HOST-windres" "$HOST-ar" nasm cmake pkg-config dpkg-source; do
    command -v "$t" >/dev/null || die "$t not found after installing ${TOOL_PKGS[*]}"
done
[ -f "$toolchain_file" ] || die "missing $toolchain_file"

log "building prefix for key $key:"
printf '%s\n' "$dscs" | sed 's/^/[build-deps]   /' >&2

work="$cache_root/src/$key"
dl="$work/dl"
bld="$work/build"
logs="$work/logs"
rm -rf "$bld" "$prefix"
mkdir -p "$dl" "$bld" "$logs" "$prefix"
log "work dir $work (logs in $logs)"

# Only the prefix's own .pc files, never the host's.
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
export PKG_CONFIG_PATH=
unset PKG_CONFIG_SYSROOT_DIR CFLAGS CXXFLAGS CPPFLAGS LDFLAGS LIBS || true

# step NAME FUNCTION: runs FUNCTION with errexit in a subshell, output to
# $logs/NAME.log; on failure shows the log's tail and stops.
step() {
    local name=$1 fn=$2 rc t0
    local lf="$logs/$name.log"
    t0=$(date +%s)
    log "$name ..."
    : >"$lf"
    set +e
    ( set -euo pipefail; "$fn" ) >>"$lf" 2>&1
    rc=$?
    set -e
    if [ "$rc" -ne 0 ]; then
        log "FAILED: $name (exit $rc); last lines of $lf:"
        tail -n 60 "$lf" >&2
        exit 1
    fi
    log "$name done in $(( $(date +%s) - t0 ))s"
}

# ------------------------------------------------------------- sources ------

src_dsc() {   # source package -> dsc file name
    printf '%s\n' "$dscs" | awk -v p="$1" '$1 == p { print $2 }'
}

fetch_sources() {
    cd "$dl"
    # Lets apt download as its unprivileged _apt user instead of warning.
    if id _apt >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ]; then chown _apt "$dl"; fi
    local p
    for p in "${ORVANTIS_WIN_SRC_PKGS[@]}"; do
        apt-get source --download-only --only-source "$p/$ORVANTIS_WIN_SUITE"
        [ -f "$(src_dsc "$p")" ] || { echo "expected $(src_dsc "$p") after download"; exit 1; }
    done
    ls -l
}

unpack_sources() {
    local p
    for p in "${ORVANTIS_WIN_SRC_PKGS[@]}"; do
        rm -rf "${bld:?}/$p"
        dpkg-source -x "$dl/$(src_dsc "$p")" "$bld/$p"
    done
}

# -------------------------------------------------------------- builds ------

build_zlib() {
    cd "$bld/zlib"
    if CHOST=$HOST CC=$CC_W AR=$HOST-ar RANLIB=$HOST-ranlib \
       ./configure --static --prefix="$prefix"; then
        make -j"$JOBS" libz.a
        make install
    else
        echo "configure refused this host; using win32/Makefile.gcc"
        make -f win32/Makefile.gcc clean || true
        make -j"$JOBS" -f win32/Makefile.gcc PREFIX="$HOST-" CC="$CC_W" libz.a
        make -f win32/Makefile.gcc install SHARED_MODE=0 \
            BINARY_PATH="$prefix/bin" INCLUDE_PATH="$prefix/include" LIBRARY_PATH="$prefix/lib"
    fi
    test -f "$prefix/lib/libz.a"
    test -f "$prefix/lib/pkgconfig/zlib.pc"
}

build_libpng() {
    cd "$bld/libpng1.6"
    local extra=()
    # Debian's patches touch autotools inputs; do not let make rerun automake.
    if ./configure --help | grep -q -- --disable-maintainer-mode; then
        extra+=(--disable-maintainer-mode)
    fi
    ./configure --host="$HOST" --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)" \
        --prefix="$prefix" --disable-shared --enable-static "${extra[@]}" \
        CC="$CC_W" CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib"
    make -j"$JOBS"
    make install
    test -f "$prefix/lib/libpng16.a"
}

build_libjpeg() {
    cd "$bld/libjpeg-turbo"
    # LIBDIR is typed PATH so CMake keeps it relative to the prefix.
    cmake -S "$bld/libjpeg-turbo" -B "$bld/libjpeg-turbo/_build" -G "Unix Makefiles" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
        -DORVANTIS_WIN_PREFIX="$prefix" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_INSTALL_LIBDIR:PATH=lib \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_TURBOJPEG=OFF \
        -DWITH_SIMD=ON -DREQUIRE_SIMD=ON \
        -DCMAKE_ASM_NASM_COMPILER=nasm
    cmake --build "$bld/libjpeg-turbo/_build" -j "$JOBS"
    cmake --install "$bld/libjpeg-turbo/_build"
    test -f "$prefix/lib/libjpeg.a"
}

# wxWidgets for MSW, static. Kept: base, core (incl. the former "adv"
# controls such as wxHyperlinkCtrl), net (sockets), PNG/JPEG/GIF/ICO image
# handlers, threads, wxSingleInstanceChecker. Left out: everything needing
# XML/expat, the HTML/web/media/editor/docking libraries, OpenGL, TIFF.
WX_CONFIGURE_OPTS=(
    --with-msw
    --disable-shared
    --enable-unicode
    --enable-threads
    --enable-sockets
    --enable-snglinst
    --enable-hyperlink
    --enable-image
    --enable-gif
    --enable-ico_cur
    --with-zlib=sys
    --with-libpng=sys
    --with-libjpeg=sys
    --without-libtiff
    --without-expat
    --with-regex=builtin
    --without-opengl
    --without-liblzma
    --without-libcurl
    --disable-xrc
    --disable-html
    --disable-webview
    --disable-mediactrl
    --disable-stc
    --disable-richtext
    --disable-aui
    --disable-propgrid
    --disable-ribbon
    --disable-webrequest
    --disable-debugreport
    --disable-pnm
    --disable-pcx
    --disable-iff
    --disable-tga
)

build_wx() {
    local src="$bld/wxwidgets3.2"
    mkdir -p "$src/_build-msw"
    cd "$src/_build-msw"
    ../configure --host="$HOST" --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)" \
        --prefix="$prefix" "${WX_CONFIGURE_OPTS[@]}" \
        CC="$CC_W" CXX="$CXX_W" WINDRES="$HOST-windres" \
        CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib"
    make -j"$JOBS"
    make install
    test -x "$prefix/bin/wx-config"
    "$prefix/bin/wx-config" --list
    "$prefix/bin/wx-config" --static --libs base,core,net
}

step fetch fetch_sources
step unpack unpack_sources
step zlib build_zlib
step libpng build_libpng
step libjpeg-turbo build_libjpeg
step wxwidgets build_wx

secs=$(( $(date +%s) - t_start ))
{
    echo "key: $key"
    echo "recipe: $ORVANTIS_WIN_RECIPE"
    echo "host: $HOST"
    echo "compiler: $($CXX_W --version | head -n1)"
    echo "built: $(date -u +%Y-%m-%dT%H:%M:%SZ) in ${secs}s"
    echo "sources:"
    printf '%s\n' "$dscs" | sed 's/^/  /'
    echo "wx-config: $prefix/bin/wx-config --static --cxxflags / --libs base,core,net"
} >"$prefix/orvantis-prefix.txt"

# Build trees are large; the downloaded sources and the logs stay.
rm -rf "$bld"

# Written last: its presence means the prefix is complete.
cp "$prefix/orvantis-prefix.txt" "$prefix/$ORVANTIS_WIN_STAMP"
log "prefix complete in ${secs}s ($(du -sh "$prefix" | cut -f1))"
printf '%s\n' "$prefix"

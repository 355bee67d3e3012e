# shellcheck shell=bash disable=SC2034  # sourced; the variables are used by the callers
# Shared by build-deps.sh and prefix-path.sh: where the static MinGW-w64
# dependency prefix lives and how its cache key is made.
#
# Bump ORVANTIS_WIN_RECIPE whenever the way the prefix is built changes
# (configure options, toolchain file, added libraries): that gives a new key
# and so a fresh prefix next to the old one.

ORVANTIS_WIN_RECIPE=1
ORVANTIS_WIN_HOST=x86_64-w64-mingw32
ORVANTIS_WIN_SRC_PKGS=(zlib libpng1.6 libjpeg-turbo wxwidgets3.2)
ORVANTIS_WIN_STAMP=.orvantis-complete
# Sources come from the bookworm release itself (point releases carry the
# security fixes). Pinning the suite keeps the choice the same whatever other
# deb-src entries a machine has, e.g. a security archive whose source pool is
# not reachable from here.
ORVANTIS_WIN_SUITE=bookworm

orvantis_cache_root() {
    printf '%s\n' "${ORVANTIS_WIN_CACHE:-/var/cache/orvantis-win}"
}

# Prints "<source package> <dsc file name>" for every source package, as
# apt-get source picks it now from the pinned suite. Fails if apt has no deb-src for one.
orvantis_source_dscs() {
    local tmp rc=0 p out dsc
    # apt-get source skips files that already sit in the current directory,
    # so ask from an empty one.
    tmp=$(mktemp -d)
    for p in "${ORVANTIS_WIN_SRC_PKGS[@]}"; do
        out=$(cd "$tmp" && apt-get source --print-uris --only-source "$p/$ORVANTIS_WIN_SUITE" 2>/dev/null) || { rc=1; break; }
        dsc=$(printf '%s\n' "$out" | awk '$2 ~ /\.dsc$/ { print $2; exit }')
        if [ -z "$dsc" ]; then rc=1; break; fi
        printf '%s %s\n' "$p" "$dsc"
    done
    rm -rf "$tmp"
    return "$rc"
}

# Cache key from the recipe version and the exact source package versions.
# $1: output of orvantis_source_dscs
orvantis_key_from_dscs() {
    local sum
    sum=$( { printf 'recipe=%s\nhost=%s\n' "$ORVANTIS_WIN_RECIPE" "$ORVANTIS_WIN_HOST"
             printf '%s\n' "$1"; } | sha256sum | cut -c1-16)
    printf 'r%s-%s\n' "$ORVANTIS_WIN_RECIPE" "$sum"
}

orvantis_prefix_for_key() {
    printf '%s/prefix-%s\n' "$(orvantis_cache_root)" "$1"
}

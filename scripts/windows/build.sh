#!/usr/bin/env bash
# Cross-builds the Windows program (x86_64, MinGW-w64) from this tree and
# packs it for users:
#
#   build-windows/orvantis.exe                    the program, statically linked
#   build-windows/Orvantis-<version>-Windows.zip  the package: one folder with
#                                                 orvantis.exe and the pictures
#   build-windows/Orvantis-<version>-Setup.exe    the installer of the same files
#                                                 (packaging/windows/orvantis.nsi)
#   build-windows/tests-windows/keyprobe.exe      what the Windows tests
#   build-windows/tests-windows/orvantis_unit_tests.exe   run under Wine
#
# Runs on Debian 12 and 13 (MinGW-w64 GCC 12 or 14); the dependencies are
# built from Debian 12's sources on both. Installs what is missing first:
# the MinGW-w64 compilers and the static dependency prefix
# (scripts/windows/build-deps.sh; cached, ~3 s when built), NSIS for the
# installer and Debian's GoogleTest sources for the unit tests.
#
# Environment:
#   ORVANTIS_WIN_BUILD_DIR   build tree (default: build-windows in the tree)
#   ORVANTIS_WIN_UNIT_TESTS  0 leaves out orvantis_unit_tests.exe (default 1)
#   ORVANTIS_WIN_JOBS        parallel compile jobs (default: nproc)
#
# Fails when orvantis.exe or a test program imports a DLL that is not part of
# Windows itself.
set -euo pipefail
exec </dev/null

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${ORVANTIS_WIN_BUILD_DIR:-$repo/build-windows}
case $build in /*) ;; *) build=$PWD/$build ;; esac
tests_build=$build/tests-windows
unit_tests=${ORVANTIS_WIN_UNIT_TESTS:-1}
jobs=${ORVANTIS_WIN_JOBS:-$(nproc)}
toolchain=$repo/cmake/mingw-w64-x86_64.cmake
host=x86_64-w64-mingw32
objdump=$host-objdump

export LC_ALL=C
export DEBIAN_FRONTEND=noninteractive

log() { printf '[win-build] %s\n' "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }

t_start=$(date +%s)

# ------------------------------------------------------------ toolchain ----

# build-deps.sh installs the compilers, nasm, cmake and pkg-config, and makes
# (or finds) the static prefix; its last line on stdout is the prefix.
prefix=$("$here/build-deps.sh" | tail -n 1)
[ -x "$prefix/bin/wx-config" ] || die "build-deps.sh gave no usable prefix ($prefix)"
log "dependency prefix $prefix"

if [ "$unit_tests" != 0 ] && [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
    [ "$(id -u)" -eq 0 ] || die "installing googletest needs root (or set ORVANTIS_WIN_UNIT_TESTS=0)"
    log "apt-get install googletest"
    apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends googletest >/dev/null 2>&1 ||
        { apt-get -o DPkg::Lock::Timeout=600 update >/dev/null 2>&1 && apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends googletest >/dev/null; } ||
        die "cannot install googletest"
fi
if ! command -v makensis >/dev/null; then
    [ "$(id -u)" -eq 0 ] || die "installing nsis needs root"
    log "apt-get install nsis"
    apt-get install -y -o DPkg::Lock::Timeout=600 --no-install-recommends nsis >/dev/null 2>&1 ||
        { apt-get update -o DPkg::Lock::Timeout=600 >/dev/null 2>&1 &&
          apt-get install -y -o DPkg::Lock::Timeout=600 --no-install-recommends nsis >/dev/null; } ||
        die "cannot install nsis"
fi
for t in cmake cpack "$host-g++-posix" "$objdump" python3 makensis; do
    command -v "$t" >/dev/null || die "$t not found"
done


# -------------------------------------------------------------- program ----

log "configuring $build"
mkdir -p "$build" "$tests_build"
cmake -S "$repo" -B "$build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DORVANTIS_WIN_PREFIX="$prefix" \
    -DwxWidgets_CONFIG_EXECUTABLE="$prefix/bin/wx-config" \
    -DCMAKE_BUILD_TYPE=Release \
    -DORVANTIS_BUILD_TESTS=OFF \
    -DORVANTIS_BUILD_BENCH=OFF >"$build/configure.log" 2>&1 ||
    { tail -n 40 "$build/configure.log" >&2; die "configure failed (log: $build/configure.log)"; }

log "building orvantis.exe"
cmake --build "$build" -j "$jobs" --target orvantis
exe=$build/orvantis.exe
[ -f "$exe" ] || die "no $exe after the build"

# ---------------------------------------------------------- test programs ----

log "configuring $tests_build"
cmake -S "$repo/tests/windows" -B "$tests_build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DORVANTIS_WIN_PREFIX="$prefix" \
    -DwxWidgets_CONFIG_EXECUTABLE="$prefix/bin/wx-config" \
    -DCMAKE_BUILD_TYPE=Release \
    -DORVANTIS_PRODUCT_BUILD_DIR="$build" \
    -DORVANTIS_WIN_UNIT_TESTS="$([ "$unit_tests" != 0 ] && echo ON || echo OFF)" \
    >"$tests_build/configure.log" 2>&1 ||
    { tail -n 40 "$tests_build/configure.log" >&2; die "configure of the test programs failed"; }
log "building the test programs"
cmake --build "$tests_build" -j "$jobs"

# -------------------------------------------------------------- imports ----

# DLLs every Windows 7 and later installation has. api-ms-win-* are the
# system's API sets.
system_dll() {
    case ${1,,} in
        kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|shlwapi.dll|ole32.dll|oleaut32.dll|\
        oleacc.dll|comctl32.dll|comdlg32.dll|uxtheme.dll|version.dll|winspool.drv|ws2_32.dll|wsock32.dll|\
        msvcrt.dll|rpcrt4.dll|winmm.dll|winhttp.dll|imm32.dll|msimg32.dll|dwmapi.dll|ntdll.dll|\
        api-ms-win-*.dll) return 0 ;;
    esac
    return 1
}

check_imports() {   # file -> prints the imports; fails on a non-system DLL
    local f=$1 dll bad=0 list
    list=$("$objdump" -p "$f" | awk '/DLL Name:/ { print $3 }')
    [ -n "$list" ] || die "$f: objdump shows no imports (not a PE file?)"
    for dll in $list; do
        if ! system_dll "$dll"; then
            log "$(basename "$f") imports $dll, which is not part of Windows"
            bad=1
        fi
    done
    [ "$bad" -eq 0 ] || die "$(basename "$f") is not self-contained: link it statically"
    printf '%s\n' "$list" | tr '\n' ' '
}

log "orvantis.exe imports: $(check_imports "$exe")"
for t in "$tests_build"/*.exe; do
    log "$(basename "$t") imports: $(check_imports "$t")"
done

# -------------------------------------------------------------- package ----

log "packing"
rm -f "$build"/Orvantis-*-Windows.zip
# The package gets a stripped copy; the build tree keeps the symbols.
(cd "$build" && cpack -G ZIP -D CPACK_STRIP_FILES=ON >"$build/cpack.log" 2>&1) ||
    { tail -n 40 "$build/cpack.log" >&2; die "cpack failed (log: $build/cpack.log)"; }
zips=("$build"/Orvantis-*-Windows.zip)
[ -f "${zips[0]}" ] || die "cpack made no Orvantis-*-Windows.zip"
zip=${zips[0]}

# The package must hold exactly orvantis.exe and the data files, in one folder.
python3 - "$zip" "$repo/data" <<'EOF'
import os, sys, zipfile
zip_path, data_dir = sys.argv[1], sys.argv[2]
expected = sorted(["orvantis.exe"] + os.listdir(data_dir))
with zipfile.ZipFile(zip_path) as z:
    files = [i for i in z.infolist() if not i.is_dir()]
    folders = {i.filename.split("/")[0] for i in files}
    if len(folders) != 1 or any(i.filename.count("/") != 1 for i in files):
        sys.exit("package layout: expected one folder, got %s" % [i.filename for i in files])
    folder = folders.pop()
    names = sorted(i.filename.split("/", 1)[1] for i in files)
    if names != expected:
        sys.exit("package content: expected %s, got %s" % (expected, names))
    for name in os.listdir(data_dir):
        with open(os.path.join(data_dir, name), "rb") as f:
            if z.read(folder + "/" + name) != f.read():
                sys.exit("package: %s differs from data/%s" % (name, name))
    exe = z.getinfo(folder + "/orvantis.exe")
    print("%s: %s/ with %d files, orvantis.exe %d bytes" % (os.path.basename(zip_path), folder, len(files),
                                                            exe.file_size))
EOF

# ------------------------------------------------------------ installer ----

# The installer installs exactly what the zip holds, byte for byte (a second
# strip would give the program file another time stamp).
version=$(basename "$zip" | sed -n 's/^Orvantis-\(.*\)-Windows\.zip$/\1/p')
[ -n "$version" ] || die "no version in $(basename "$zip")"
rm -rf "$build/installer-stage" "$build"/Orvantis-*-Setup.exe
python3 -m zipfile -e "$zip" "$build/installer-stage"
stage=$build/installer-stage/Orvantis-$version-Windows
[ -f "$stage/orvantis.exe" ] || die "no orvantis.exe in $stage"
files=$build/installer-files.nsh
(cd "$stage" && for f in *; do
     [ -f "$f" ] || die "unexpected folder $f in the installer's files"
     printf '!insertmacro OrvantisFile "%s"\n' "$f"
 done) >"$files"
setup=$build/Orvantis-$version-Setup.exe
log "making $(basename "$setup")"
makensis -V2 -NOCD -DVERSION="$version" -DSTAGE="$stage" -DFILES="$files" \
    -DICON="$build/generated/orvantis.ico" -DOUTFILE="$setup" \
    "$repo/packaging/windows/orvantis.nsi" >"$build/makensis.log" 2>&1 ||
    { tail -n 40 "$build/makensis.log" >&2; die "makensis failed (log: $build/makensis.log)"; }
[ -f "$setup" ] || die "makensis made no $setup"

secs=$(( $(date +%s) - t_start ))
log "orvantis.exe $(stat -c %s "$exe") bytes (unstripped), package $(stat -c %s "$zip") bytes," \
    "installer $(stat -c %s "$setup") bytes"
log "done in ${secs}s"

# Toolchain file for cross-building the Windows (x86_64, MinGW-w64) version
# on Debian.
#
# The third-party libraries (zlib, libpng, libjpeg-turbo, wxWidgets) come from
# a static prefix made by scripts/windows/build-deps.sh. Point this file at it
# with either
#   cmake -DORVANTIS_WIN_PREFIX=/var/cache/orvantis-win/prefix-<key> ...
# or
#   export ORVANTIS_WIN_PREFIX="$(scripts/windows/prefix-path.sh)"
#
# The -posix compiler variants are used because they provide std::thread and
# friends (through winpthreads), which the plain win32 variants lack.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_orvantis_triplet x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   ${_orvantis_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_orvantis_triplet}-g++-posix)
set(CMAKE_RC_COMPILER  ${_orvantis_triplet}-windres)
# Plain names; CMake looks them up on the host PATH.
set(CMAKE_AR           ${_orvantis_triplet}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB       ${_orvantis_triplet}-ranlib CACHE FILEPATH "Ranlib")

# Where the target libraries live. A -D on the command line wins over the
# environment. The value is exported again so that try_compile() projects,
# which re-read this file in a fresh CMake run, see the same prefix.
if(NOT DEFINED ORVANTIS_WIN_PREFIX OR ORVANTIS_WIN_PREFIX STREQUAL "")
  if(DEFINED ENV{ORVANTIS_WIN_PREFIX} AND NOT "$ENV{ORVANTIS_WIN_PREFIX}" STREQUAL "")
    set(ORVANTIS_WIN_PREFIX "$ENV{ORVANTIS_WIN_PREFIX}")
  endif()
endif()
set(ORVANTIS_WIN_PREFIX "${ORVANTIS_WIN_PREFIX}" CACHE PATH
    "Static MinGW-w64 dependency prefix (made by scripts/windows/build-deps.sh)")
if(ORVANTIS_WIN_PREFIX)
  set(ENV{ORVANTIS_WIN_PREFIX} "${ORVANTIS_WIN_PREFIX}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVANTIS_WIN_PREFIX)

# Target root: the dependency prefix first, then the MinGW-w64 runtime that
# Debian installs (Win32 import libraries such as ws2_32, gdi32, ...).
set(CMAKE_FIND_ROOT_PATH "")
if(ORVANTIS_WIN_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH "${ORVANTIS_WIN_PREFIX}")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "/usr/${_orvantis_triplet}")

# Build tools (nasm, pkg-config, ...) come from the host; libraries, headers
# and CMake packages only from the target root.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config: never look at the host's .pc files.
if(ORVANTIS_WIN_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${ORVANTIS_WIN_PREFIX}/lib/pkgconfig")
else()
  set(ENV{PKG_CONFIG_LIBDIR} "/usr/${_orvantis_triplet}/lib/pkgconfig")
endif()
set(ENV{PKG_CONFIG_PATH} "")

# FindwxWidgets uses wx-config when cross-compiling; use the prefix's copy.
if(ORVANTIS_WIN_PREFIX AND NOT DEFINED wxWidgets_CONFIG_EXECUTABLE
   AND EXISTS "${ORVANTIS_WIN_PREFIX}/bin/wx-config")
  set(wxWidgets_CONFIG_EXECUTABLE "${ORVANTIS_WIN_PREFIX}/bin/wx-config"
      CACHE FILEPATH "wx-config of the static MinGW-w64 wxWidgets build")
endif()

#!/usr/bin/env bash
# Installs, with apt, whatever is missing for one or more tasks on Debian 12
# (bookworm) or Debian 13 (trixie), the tested releases. Safe to run again;
# installs nothing already there.
#
#   scripts/install-deps.sh [MODE...]
#
# Modes (default: test):
#   run         build the program and run it, on a virtual display when none
#               is set (scripts/run.sh)
#   test        all of run, plus what building and running the tests needs
#               (scripts/test.sh), the headless Wayland desktops included
#   test-x11    the same without the Wayland desktops (their tests skip)
#   package     build the Debian package and check it (scripts/deb/build.sh)
#   sanitizers  building with clang and its sanitizer runtimes (scripts/fuzz.sh)
#   roots       making fresh Debian roots (scripts/fresh-root-test.sh)
# ORVANTIS_WITH_SANITIZERS=1 adds the sanitizers mode to any other.
#
# The packages come in groups; a mode is a list of groups. A new group needs
# one array below and its name in the modes that need it.
set -euo pipefail

# Compiling and linking the program.
# The Wayland backends: the client library, xkbcommon and wayland-scanner
# (libwayland-dev's libwayland-bin) for wlroots compositors; GIO (GDBus) and
# PipeWire for the desktop portal of GNOME and KDE.
group_build=(build-essential cmake pkg-config
             libwxgtk3.2-dev libx11-dev libxtst-dev libxrandr-dev libxext-dev libjpeg62-turbo-dev
             libwayland-dev libxkbcommon-dev libglib2.0-dev libpipewire-0.3-dev libspa-0.2-dev)
# Running it the way scripts/run.sh does: a virtual display, the port and
# addresses it reports (ss, ip), a private session bus (dbus-run-session, and
# pgrep to find the program under it), a font for the window.
group_run=(xvfb iproute2 procps dbus-daemon fonts-dejavu-core)
# Building and running the tests: GoogleTest, the harnesses (python3), X
# tools, network namespaces (util-linux, iproute2), a headless browser.
group_test=(libgtest-dev python3 x11-utils x11-xserver-utils xdotool
            util-linux procps curl chromium)
# The headless Wayland desktops of tests/wayland: sway with XWayland, wev
# and grim; GNOME Shell and KWin with their portals, PipeWire, a stand-in
# logind (python3-dbusmock), the accessibility bus that answers GNOME's
# consent dialog, GStreamer's PipeWire source for Mutter's own screenshots.
group_desktops=(sway xwayland wev grim dbus
                gnome-shell mutter xdg-desktop-portal xdg-desktop-portal-gnome
                pipewire pipewire-bin wireplumber
                python3-dbusmock python3-gi gir1.2-atspi-2.0 at-spi2-core libglib2.0-bin dconf-service
                gir1.2-gst-plugins-base-1.0 gstreamer1.0-plugins-base gstreamer1.0-pipewire
                kwin-wayland xdg-desktop-portal-kde plasma-workspace)
# Debian 12's KDE portal (Plasma 5.27) needs QML modules it does not pull
# in; Debian 13's (Plasma 6) depends on its own.
group_desktops_bookworm=(qtwayland5
                         qml-module-qtquick-layouts qml-module-qtquick-controls2 qml-module-qtquick2
                         qml-module-qtquick-window2 qml-module-org-kde-kirigami2
                         qml-module-qtquick-templates2 qml-module-qtgraphicaleffects
                         qml-module-qtquick-controls qml-module-org-kde-kquickcontrolsaddons)
# Packing and checking the .deb (python3 draws the icons).
group_package=(dpkg-dev lintian gzip python3)
# The sanitizer builds and the fuzzer. libclang-rt-dev is the unversioned
# name both releases carry (14 on Debian 12, 19 on Debian 13).
group_sanitizers=(clang libclang-rt-dev)
# Fresh Debian roots for the newcomer's path.
group_roots=(mmdebstrap)

groups_for_mode() {
  case $1 in
    run) echo build run ;;
    test) echo build run test desktops ;;
    test-x11) echo build run test ;;
    package) echo build package ;;
    sanitizers) echo build sanitizers ;;
    roots) echo roots ;;
    *) echo "install-deps: unknown mode '$1' (run, test, test-x11, package, sanitizers, roots)" >&2; return 1 ;;
  esac
}

modes=("$@")
[ ${#modes[@]} -gt 0 ] || modes=(test)
[ "${ORVANTIS_WITH_SANITIZERS:-0}" != 1 ] || modes+=(sanitizers)

codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
packages=()
for m in "${modes[@]}"; do
  groups=$(groups_for_mode "$m") || exit 2
  for g in $groups; do
    declare -n group="group_$g"
    packages+=("${group[@]}")
    unset -n group
    # A group may have additions for one release: group_NAME_CODENAME.
    if declare -p "group_${g}_$codename" >/dev/null 2>&1; then
      declare -n group="group_${g}_$codename"
      packages+=("${group[@]}")
      unset -n group
    fi
  done
done

missing=()
for p in "${packages[@]}"; do
  case " ${missing[*]} " in *" $p "*) continue ;; esac
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
# A freshly booted Debian often runs an apt job of its own: wait for its
# lock rather than fail.
apt_opts=(-o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
echo "Installing: ${missing[*]}"
echo "-- updating the package lists"
$sudo apt-get "${apt_opts[@]}" update -q

# apt refuses the whole list for one unknown name and then only says
# "Unable to locate package": name each one this system's sources lack.
unknown=()
for p in "${missing[@]}"; do
  candidate=$(apt-cache policy "$p" 2>/dev/null | awk '$1 == "Candidate:" { print $2 }')
  [ -n "$candidate" ] && [ "$candidate" != "(none)" ] || unknown+=("$p")
done
if [ ${#unknown[@]} -gt 0 ]; then
  release=$(. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-this system}")
  echo "install-deps: no installable package ${unknown[*]} in the apt sources of $release" >&2
  echo "install-deps: (Debian 12 and 13 are the tested releases; check /etc/apt/sources.list*, and that" >&2
  echo "install-deps: 'apt-get update' above could fetch the package lists: without a network it warns only)" >&2
  exit 1
fi

echo "-- downloading and installing (a few minutes on a fresh machine)"
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${apt_opts[@]}" install -y -q --no-install-recommends \
  "${missing[@]}" | grep --line-buffered -E '^(Get:|Unpacking|Setting up|E:|W:)' || true
# The filter above hides apt's own status: check the result.
failed=()
for p in "${missing[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || failed+=("$p")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "install-deps: ${failed[*]} did not install (see apt-get's messages above)" >&2
  exit 1
fi
echo "-- installed"

#!/usr/bin/env bash
# Installs, with apt, whatever is missing to build Orvantis on Debian 12 and
# to run it and its tests. Safe to run again; installs nothing already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libwxgtk3.2-dev libx11-dev libxtst-dev libxrandr-dev libxext-dev
  libgtest-dev libjpeg62-turbo-dev
  xvfb x11-utils x11-xserver-utils xdotool
  python3 iproute2 util-linux procps curl
  chromium fonts-dejavu-core
)
# Wayland, wlroots compositors: the client library, xkbcommon and
# wayland-scanner (in libwayland-dev's libwayland-bin) to build; headless sway
# with XWayland, wev, grim and a session bus for the tests (tests/wayland).
packages+=(
  libwayland-dev libxkbcommon-dev
  sway xwayland wev grim dbus
)
# Wayland, GNOME and KDE through the desktop portal: GIO (GDBus) and PipeWire
# to build; for the tests (tests/wayland) headless GNOME Shell and KWin with
# their portals, PipeWire, a stand-in logind (python3-dbusmock), the
# accessibility bus that answers GNOME's consent dialog, GStreamer's PipeWire
# source for Mutter's own screenshots, and the QML modules the KDE portal
# needs but does not pull in.
packages+=(
  libglib2.0-dev libpipewire-0.3-dev libspa-0.2-dev
  gnome-shell mutter xdg-desktop-portal xdg-desktop-portal-gnome pipewire pipewire-bin wireplumber
  python3-dbusmock python3-gi gir1.2-atspi-2.0 at-spi2-core libglib2.0-bin dconf-service
  gir1.2-gst-plugins-base-1.0 gstreamer1.0-plugins-base gstreamer1.0-pipewire
  kwin-wayland xdg-desktop-portal-kde qtwayland5 plasma-workspace
  qml-module-qtquick-layouts qml-module-qtquick-controls2 qml-module-qtquick2 qml-module-qtquick-window2
  qml-module-org-kde-kirigami2 qml-module-qtquick-templates2 qml-module-qtgraphicaleffects
  qml-module-qtquick-controls qml-module-org-kde-kquickcontrolsaddons
)
if [ "${ORVANTIS_WITH_SANITIZERS:-0}" = 1 ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  # A freshly booted Debian often runs an apt job of its own: wait for its
  # lock rather than fail.
  apt_opts=(-o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
  echo "Installing: ${missing[*]}"
  echo "-- updating the package lists"
  $sudo apt-get "${apt_opts[@]}" update -q
  echo "-- downloading and installing (a few minutes on a fresh machine)"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get "${apt_opts[@]}" install -y -q --no-install-recommends \
    "${missing[@]}" | grep --line-buffered -E '^(Get:|Unpacking|Setting up|E:|W:)' || true
  # The filter above hides apt's own status: check the result.
  for p in "${missing[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      { echo "install-deps: $p did not install (see apt-get's messages above)" >&2; exit 1; }
  done
  echo "-- installed"
fi

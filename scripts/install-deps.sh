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
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

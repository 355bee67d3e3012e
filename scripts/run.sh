#!/usr/bin/env bash
# Installs what is missing, builds Orvantis and runs it from a working
# directory that holds its picture files (out/run). Without a display it
# starts a virtual one first, so the server still answers phones.
#
# Once the program listens it prints the port it took and the URLs to open
# on the phone. Ctrl-C (or SIGTERM) ends the program, and the virtual
# display if this script started one.
#
# ORVANTIS_NO_BUILD=1 skips the install and build steps and runs what is in
# the build directory (build/, or $ORVANTIS_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANTIS_BUILD_DIR:-$root/build}
if [ "${ORVANTIS_NO_BUILD:-0}" != 1 ]; then
  "$root/scripts/install-deps.sh"
  "$root/scripts/build.sh"
fi

rundir=$root/out/run
mkdir -p "$rundir"
cp "$root"/data/* "$rundir"/

app=""
xvfb_pid=""
stop() {
  trap - EXIT INT TERM
  if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then
    echo "Stopping Orvantis."
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
# The program runs as a background job, which a non-interactive shell starts
# with Ctrl-C ignored: end it here instead.
trap stop EXIT
trap 'stop; exit 130' INT
trap 'stop; exit 143' TERM

if [ -z "${DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null || { echo "Xvfb is not installed (scripts/install-deps.sh installs it)" >&2; exit 1; }
  for n in $(seq 20 99); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$n
    break
  done
  [ -n "$xvfb_pid" ] || { echo "No free display number for a virtual display." >&2; exit 1; }
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
  echo "No display was set: running on the virtual display $DISPLAY"
fi

cd "$rundir"
"$build/orvantis" &
app=$!

# The port this very process listens on, as the system reports it: another
# web server on port 80 answers too, but Orvantis then listens on 8888.
own_port() {
  ss -Hltnp 2>/dev/null | awk -v pid="pid=$app," '
    index($0, pid) { n = split($4, a, ":"); if (a[n] == 80 || a[n] == 8888) { print a[n]; exit } }'
}

port=""
for _ in $(seq 1 150); do
  kill -0 "$app" 2>/dev/null || break
  port=$(own_port)
  [ -n "$port" ] && break
  sleep 0.2
done

if [ -n "$port" ]; then
  suffix=""; [ "$port" = 80 ] || suffix=":$port"
  # The addresses the window shows: IPv4 on interfaces that are up, other
  # than the loopback.
  addrs=$(ip -4 -o addr show up 2>/dev/null | awk '$2 != "lo" { split($4, a, "/"); if (a[1] !~ /^127\./) print a[1] }')
  echo "Orvantis is serving on port $port."
  if [ -n "$addrs" ]; then
    echo "Open on the phone:"
    for a in $addrs; do echo "  http://$a$suffix/"; done
    echo "  http://$(hostname)$suffix/"
  else
    echo "Not Connected to LAN or WIFI: connect this computer to the network the phone uses."
  fi
  echo "Ctrl-C ends Orvantis."
elif kill -0 "$app" 2>/dev/null; then
  echo "Orvantis did not open port 80 or 8888 (see its window)."
fi
set +e
wait "$app"
rc=$?
app=""
exit $rc

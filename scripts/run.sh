#!/usr/bin/env bash
# Installs what is missing to build and run Orvantis (not the test tools),
# builds the program alone (not its tests) and runs it from a working
# directory that holds its picture files (out/run). Without a display it
# starts a virtual one first, so the server still answers phones. Without a
# session bus it runs the program under a private one (dbus-run-session),
# which ends with it: the toolkit would otherwise start a bus of its own that
# outlives this script. Tested on Debian 12 and 13.
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
  "$root/scripts/install-deps.sh" run
  "$root/scripts/build.sh" --program
fi

rundir=$root/out/run
mkdir -p "$rundir"
cp "$root"/data/* "$rundir"/

app=""      # the program's process
runner=""   # the background job: the program, or dbus-run-session running it
xvfb_pid=""
stop() {
  trap - EXIT INT TERM
  if [ -n "$runner" ] && kill -0 "$runner" 2>/dev/null; then
    echo "Stopping Orvantis."
    kill "${app:-$runner}" 2>/dev/null || true
    # dbus-run-session ends its bus and itself once the program has ended.
    wait "$runner" 2>/dev/null || true
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
bus=()
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && command -v dbus-run-session >/dev/null; then
  bus=(dbus-run-session --)
fi
"${bus[@]}" "$build/orvantis" &
runner=$!
app=$runner
if [ ${#bus[@]} -gt 0 ]; then
  # The program is the runner's child once the bus is up.
  app=""
  for _ in $(seq 1 100); do
    app=$(pgrep -P "$runner" -x orvantis || true)
    [ -n "$app" ] || ! kill -0 "$runner" 2>/dev/null && break
    sleep 0.05
  done
  app=${app:-$runner}
fi

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
    echo "  http://$(uname -n)$suffix/"
  else
    echo "Not Connected to LAN or WIFI: connect this computer to the network the phone uses."
  fi
  echo "Ctrl-C ends Orvantis."
elif kill -0 "$app" 2>/dev/null; then
  echo "Orvantis did not open port 80 or 8888 (see its window)."
fi
set +e
wait "$runner"
rc=$?
runner=""
exit $rc

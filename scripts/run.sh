#!/usr/bin/env bash
# Installs what is missing, builds Orvantis and runs it from a working
# directory that holds its picture files (out/run). Without a display it
# starts a virtual one first, so the server still answers phones.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

rundir=$root/out/run
mkdir -p "$rundir"
cp "$root"/data/* "$rundir"/

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 20 99); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$n
    break
  done
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/${DISPLAY#:}" ] || [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
  echo "No display was set: running on the virtual display $DISPLAY"
fi
trap '[ -n "$xvfb_pid" ] && kill $xvfb_pid 2>/dev/null' EXIT

cd "$rundir"
"$root/build/orvantis" &
app=$!

# Tell where phones connect once the server listens.
port=""
for _ in $(seq 1 50); do
  for p in 80 8888; do
    if (exec 3<>/dev/tcp/127.0.0.1/$p) 2>/dev/null; then port=$p; break 2; fi
  done
  sleep 0.2
done
if [ -n "$port" ]; then
  suffix=""; [ "$port" = 80 ] || suffix=":$port"
  addrs=$(ip -4 -o addr show up scope global 2>/dev/null | awk '{split($4,a,"/"); print a[1]}')
  echo "Orvantis is serving on port $port. Open on the phone:"
  for a in ${addrs:-127.0.0.1}; do echo "  http://$a$suffix/"; done
  echo "  http://$(hostname)$suffix/"
else
  echo "Orvantis did not open port 80 or 8888 (see its window)."
fi
wait $app

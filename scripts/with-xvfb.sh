#!/usr/bin/env bash
# Runs a command with a private virtual X display (1920x1080x24) and tears
# the display down afterwards. Usage: with-xvfb.sh [-s WxHxD] command...
# The display number is picked among free ones, so parallel runs don't clash.
# The server's log is shown when the display does not come up, and removed.
set -u
geometry=1920x1080x24
if [ "${1:-}" = "-s" ]; then geometry=$2; shift 2; fi
if ! command -v Xvfb >/dev/null; then
  echo "with-xvfb: Xvfb is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

for n in $(seq 90 250); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
  log=$(mktemp "${TMPDIR:-/tmp}/xvfb-$n.XXXXXX.log")
  Xvfb :$n -screen 0 "$geometry" -nolisten tcp -noreset +extension RANDR >"$log" 2>&1 &
  xpid=$!
  for _ in $(seq 1 100); do
    [ -e /tmp/.X11-unix/X$n ] && break
    kill -0 $xpid 2>/dev/null || break
    sleep 0.05
  done
  # Two runs may race for the same number: the display is ours only if the
  # lock file names our server.
  owner=$(tr -d ' \n' 2>/dev/null < /tmp/.X$n-lock)
  if kill -0 $xpid 2>/dev/null && [ -e /tmp/.X11-unix/X$n ] && [ "$owner" = "$xpid" ]; then
    export DISPLAY=:$n
    "$@"
    rc=$?
    kill $xpid 2>/dev/null
    wait $xpid 2>/dev/null
    rm -f "$log"
    exit $rc
  fi
  kill $xpid 2>/dev/null
  wait $xpid 2>/dev/null
  # A lost race leaves the display to its owner; any other failure is worth
  # reading.
  [ "$owner" != "" ] && [ "$owner" != "$xpid" ] || cat "$log" >&2
  rm -f "$log"
done
echo "with-xvfb: no free display" >&2
exit 1

#!/usr/bin/env bash
# Runs a command in a network namespace of its own, with only a loopback
# interface that is up: the program under test may take ports 80 and 8888
# there without clashing with anything else on the machine.
set -eu
if [ "$(id -u)" = 0 ]; then
  exec unshare -n -- sh -c 'ip link set lo up && exec "$@"' in-netns "$@"
else
  exec unshare -rn -- sh -c 'ip link set lo up && exec "$@"' in-netns "$@"
fi

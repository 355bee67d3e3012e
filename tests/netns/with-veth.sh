#!/usr/bin/env bash
# Runs a command in a fresh network namespace (scripts/in-netns.sh) that holds,
# besides lo, a veth pair made for the test: orvt0 carries the given IPv4
# addresses and is up (left down with --down); its peer orvt1 is up and has
# no address. No traffic crosses the pair: it only gives the namespace an
# interface with an address, as a LAN card would. The namespace and the pair
# vanish with the command, however it ends.
#
# Usage: with-veth.sh [--down] ADDRESS/PREFIX... -- command...
# The command sees ORVANTIS_TEST_NETWORK=veth and, in ORVANTIS_TEST_ADDRESSES,
# the addresses that the system should report (none with --down), comma
# separated, in the order given.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != --inside ]; then
  exec "$here/../../scripts/in-netns.sh" bash "$here/with-veth.sh" --inside "$@"
fi
shift

down=0
addresses=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  case $1 in
    --down) down=1 ;;
    *) addresses+=("$1") ;;
  esac
  shift
done
[ "${1:-}" = -- ] && shift
if [ ${#addresses[@]} = 0 ] || [ $# = 0 ]; then
  echo "usage: with-veth.sh [--down] ADDRESS/PREFIX... -- command..." >&2
  exit 2
fi

# Only ever change a namespace that holds nothing but lo, i.e. the one
# in-netns.sh has just made.
if [ "$(ip -o link show | wc -l)" != 1 ]; then
  echo "with-veth: not in a fresh network namespace; refusing to touch it" >&2
  exit 2
fi

ip link add orvt0 type veth peer name orvt1
reported=()
for a in "${addresses[@]}"; do
  ip addr add "$a" dev orvt0
  reported+=("${a%/*}")
done
ip link set orvt1 up
if [ $down = 0 ]; then
  ip link set orvt0 up
else
  reported=()
fi

export ORVANTIS_TEST_NETWORK=veth
ORVANTIS_TEST_ADDRESSES=$(IFS=,; echo "${reported[*]}")
export ORVANTIS_TEST_ADDRESSES
exec "$@"

#!/bin/sh
# The shipped daemon (empty platform prefix) uses the node's own paths:
# every absolute path under /dev, /sys, /proc or /etc found among its strings
# is one of the expected ones, each expected one is there, and no string
# holds the test prefix. The simulation daemon, when given, must show that
# prefix: proof that the check reads the paths where the build puts them.
#
#   shipped_paths.sh <strings> <nodekeeper> <test prefix> [<nodekeeper-sim>]
set -eu
strings_bin=$1 daemon=$2 test_prefix=$3 sim_daemon=${4:-}

expected='/dev/i2c-0
/dev/i2c-%d
/dev/mem
/etc/netplan/99-netcfg.yaml
/proc/net/route
/sys/class/gpio/export
/sys/class/gpio/gpio%d
/sys/class/hwmon/%s/temp2_input
/sys/class/i2c-adapter/i2c-%d/%d-00%2x/hwmon
/sys/class/i2c-adapter/i2c-%d/new_device'
# Paths that stand as strings of their own (the others are parts of the
# sensor's shell commands).
whole='/dev/i2c-0
/dev/i2c-%d
/dev/mem
/proc/net/route
/sys/class/gpio/gpio%d
/sys/class/gpio/export
/etc/netplan/99-netcfg.yaml'

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$strings_bin" -a -n 4 "$daemon" > "$tmp/strings"

status=0
grep -oE '(^|[^A-Za-z0-9_.])/(dev|sys|proc|etc)/[^ ]*' "$tmp/strings" | sed 's/^[^/]//' | sort -u > "$tmp/found"
printf '%s\n' "$expected" | sort -u > "$tmp/expected"
if ! cmp -s "$tmp/found" "$tmp/expected"; then
  echo "platform paths differ (< found, > expected):"
  diff "$tmp/found" "$tmp/expected" || true
  status=1
fi
echo "$whole" | while IFS= read -r path; do
  grep -qxF "$path" "$tmp/strings" || { echo "missing as a string of its own: $path"; exit 1; }
done || status=1
if grep -F "$test_prefix" "$tmp/strings"; then
  echo "the shipped daemon holds the test prefix $test_prefix"
  status=1
fi

if [ -n "$sim_daemon" ]; then
  if ! "$strings_bin" -a -n 4 "$sim_daemon" | grep -qxF "$test_prefix/dev/i2c-0"; then
    echo "the simulation daemon does not show $test_prefix/dev/i2c-0: the check reads the wrong strings"
    status=1
  fi
fi
[ $status -eq 0 ] && echo "shipped platform paths: ok"
exit $status

#!/bin/sh
# The shipped daemon (empty platform prefix) uses the node's own paths:
# every absolute path under /dev, /sys, /proc or /etc among the string
# constants of its .rodata is one of the expected ones, each expected one is
# there, and nothing in the file holds the test prefix. The simulation
# daemon, when given, must show that prefix: proof that the check reads the
# paths where the build puts them.
#
# String constants are taken as the linker leaves them: NUL-terminated, and
# a path may be the tail of a longer constant (the compiler places other
# bytes right before it or merges equal tails), so the paths that stand on
# their own must end a constant and not follow a blank (as in a command).
#
#   shipped_paths.sh <objcopy> <nodekeeper> <test prefix> [<nodekeeper-sim>]
set -eu
export LC_ALL=C  # constants hold arbitrary bytes
objcopy=$1 daemon=$2 test_prefix=$3 sim_daemon=${4:-}

expected='/dev/i2c-0
/dev/i2c-%d
/dev/mem
/dev/null
/etc/netplan/99-netcfg.yaml
/etc/os-release
/proc/net/route
/sys/class/gpio/export
/sys/class/gpio/gpio%d
/sys/class/hwmon/%s/temp2_input
/sys/class/i2c-adapter/i2c-%d/%d-00%2x/hwmon
/sys/class/i2c-adapter/i2c-%d/new_device'
# Paths that stand as strings of their own (the others are parts of the
# sensor's shell commands). /dev/null, the standard input of every program
# the daemon starts, is the same in every build.
whole='/dev/i2c-0
/dev/i2c-%d
/dev/mem
/proc/net/route
/sys/class/gpio/gpio%d
/sys/class/gpio/export
/etc/netplan/99-netcfg.yaml
/etc/os-release
/dev/null'

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
constants() {  # binary output: its .rodata, one NUL-terminated constant a line
  "$objcopy" -O binary --only-section=.rodata "$1" "$tmp/rodata"
  tr '\000' '\n' < "$tmp/rodata" > "$2"
}
constants "$daemon" "$tmp/strings"

status=0
grep -aoE '/(dev|sys|proc|etc)/[^ ]*' "$tmp/strings" | sort -u > "$tmp/found"
printf '%s\n' "$expected" | sort -u > "$tmp/expected"
if ! cmp -s "$tmp/found" "$tmp/expected"; then
  echo "platform paths differ (< found, > expected):"
  diff "$tmp/found" "$tmp/expected" || true
  status=1
fi
echo "$whole" | while IFS= read -r path; do
  pattern=$(printf '%s' "$path" | sed 's/[.]/\\./g')
  grep -qaE "(^|[^ ])$pattern\$" "$tmp/strings" || { echo "missing as a string of its own: $path"; exit 1; }
done || status=1
if grep -qaF "$test_prefix" "$daemon"; then
  echo "the shipped daemon holds the test prefix $test_prefix"
  status=1
fi

if [ -n "$sim_daemon" ]; then
  constants "$sim_daemon" "$tmp/sim_strings"
  if ! grep -qaxF "$test_prefix/dev/i2c-0" "$tmp/sim_strings"; then
    echo "the simulation daemon does not show $test_prefix/dev/i2c-0: the check reads the wrong strings"
    status=1
  fi
fi
[ $status -eq 0 ] && echo "shipped platform paths: ok"
exit $status

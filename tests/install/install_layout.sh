#!/bin/sh
# Installs the build into temporary folders and checks the result: the
# daemon, its unit (unchanged under the prefix /usr, naming the installed
# daemon under any other prefix), the documentation the unit links, every
# header of the common library, and a static library that a program can be
# built with (library_client.cpp).
#
#   install_layout.sh <cmake> <build dir> <source dir> <c++ compiler> [<flags>]
set -eu
cmake=$1 build=$2 source=$3 cxx=$4 flags=${5:-}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() { echo "install: $*"; status=1; }

# As a package installs it: prefix /usr, staged under DESTDIR.
DESTDIR="$tmp/pkg" "$cmake" --install "$build" --prefix /usr > "$tmp/install.log" || {
  cat "$tmp/install.log"; exit 1; }
root="$tmp/pkg/usr"
[ -x "$root/sbin/nodekeeper" ] || fail "no sbin/nodekeeper"
cmp -s "$root/lib/systemd/system/nodekeeper.service" "$source/packaging/nodekeeper.service" ||
  fail "lib/systemd/system/nodekeeper.service is not packaging/nodekeeper.service"
[ -f "$root/share/doc/nodekeeper/README.md" ] || fail "no share/doc/nodekeeper/README.md"
for header in "$source"/Ruvo_Common/include/*.h "$source"/Ruvo_Common/Util/include/*.h; do
  cmp -s "$header" "$root/include/Ruvo_Common/$(basename "$header")" || fail "header $(basename "$header") not installed"
done
library=$(find "$root" -name libruvo_common.a | head -n 1)
if [ -z "$library" ]; then
  fail "no libruvo_common.a"
else
  nm -C "$library" > "$tmp/symbols"
  for symbol in 'BMC::init_Packet(' 'get_Packet_Read(' 'set_Packet_Write('; do
    grep -q " T $symbol" "$tmp/symbols" || fail "libruvo_common.a does not define $symbol"
  done
  if [ -f "$source/Ruvo_Common/src/UDS_BMC_packet_thread.cpp" ]; then
    grep -q " T init_UDS_BMC_Packet_Thread(" "$tmp/symbols" || fail "libruvo_common.a lacks the socket server"
  fi
  # shellcheck disable=SC2086  # flags are words
  if ! "$cxx" -std=c++17 $flags -I "$root/include/Ruvo_Common" "$source/tests/install/library_client.cpp" \
       "$library" -pthread -o "$tmp/client" 2> "$tmp/compile.log"; then
    cat "$tmp/compile.log"
    fail "a program cannot be built against the installed library"
  elif ! "$tmp/client"; then
    fail "the program built against the installed library failed ($?)"
  fi
fi

# Any other prefix: the unit names the daemon and its documentation there.
"$cmake" --install "$build" --prefix "$tmp/opt" > "$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }
unit="$tmp/opt/lib/systemd/system/nodekeeper.service"
grep -qxF "ExecStart=$tmp/opt/sbin/nodekeeper" "$unit" || fail "unit does not start $tmp/opt/sbin/nodekeeper"
grep -qF "file://$tmp/opt/share/doc/nodekeeper/README.md" "$unit" || fail "unit documentation link not moved"

[ $status -eq 0 ] && echo "install layout: ok"
exit $status

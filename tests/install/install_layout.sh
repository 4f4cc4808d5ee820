#!/bin/sh
# Installs the build into temporary folders and checks the result: the
# daemon, its unit (unchanged under the prefix /usr, naming the installed
# daemon under any other prefix), the documentation the unit links, every
# header of the common library, and a static library that a program can be
# built with (library_client.cpp) through the CMake package and through
# pkg-config.
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
  for symbol in 'BMC::init_Packet(' 'get_Packet_Read(' 'set_Packet_Write(' 'init_UDS_BMC_Packet_Thread('; do
    grep -q " T $symbol" "$tmp/symbols" || fail "libruvo_common.a does not define $symbol"
  done
  # A program built through each way of finding the library: the pkg-config
  # module (whose folders name /usr, found under the staging folder through
  # the sysroot) and the CMake package.
  pc=$(find "$root" -name ruvo_common.pc | head -n 1)
  export PKG_CONFIG_PATH="${pc%/*}" PKG_CONFIG_SYSROOT_DIR="$tmp/pkg"
  if [ -z "$pc" ]; then
    fail "no ruvo_common.pc"
  elif ! pc_flags="$(pkg-config --cflags ruvo_common) $(pkg-config --libs ruvo_common)"; then
    fail "pkg-config does not read ruvo_common.pc"
  # shellcheck disable=SC2086  # flags are words
  elif ! "$cxx" -std=c++17 $flags "$source/tests/install/library_client.cpp" $pc_flags \
         -o "$tmp/pc_client" > "$tmp/compile.log" 2>&1; then
    cat "$tmp/compile.log"
    fail "a program cannot be built through pkg-config"
  elif ! "$tmp/pc_client"; then
    fail "the program built through pkg-config failed ($?)"
  fi
  if ! { "$cmake" -S "$source/tests/install/cmake_client" -B "$tmp/cmake_client" \
           -DCMAKE_PREFIX_PATH="$root" -DCMAKE_CXX_COMPILER="$cxx" \
           -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" &&
         "$cmake" --build "$tmp/cmake_client"; } > "$tmp/compile.log" 2>&1; then
    cat "$tmp/compile.log"
    fail "a program cannot be built through find_package(Ruvo_Common)"
  elif ! "$tmp/cmake_client/library_client"; then
    fail "the program built through find_package(Ruvo_Common) failed ($?)"
  fi
fi

# Any other prefix: the unit names the daemon and its documentation there.
"$cmake" --install "$build" --prefix "$tmp/opt" > "$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }
unit="$tmp/opt/lib/systemd/system/nodekeeper.service"
grep -qxF "ExecStart=$tmp/opt/sbin/nodekeeper" "$unit" || fail "unit does not start $tmp/opt/sbin/nodekeeper"
grep -qF "file://$tmp/opt/share/doc/nodekeeper/README.md" "$unit" || fail "unit documentation link not moved"

[ $status -eq 0 ] && echo "install layout: ok"
exit $status

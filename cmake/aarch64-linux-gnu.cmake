# Cross build for the node's 64-bit Arm Linux with Debian's cross compilers
# (crossbuild-essential-arm64). Test binaries run under qemu user-mode
# emulation (qemu-user), which finds the target's C and C++ libraries under
# /usr/aarch64-linux-gnu, unless NODEKEEPER_TARGET_ROOT is given (below).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(NODEKEEPER_CROSS_TRIPLE aarch64-linux-gnu)
set(NODEKEEPER_CROSS_ROOT /usr/${NODEKEEPER_CROSS_TRIPLE})

set(CMAKE_C_COMPILER ${NODEKEEPER_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${NODEKEEPER_CROSS_TRIPLE}-g++)

# Libraries and headers come from the target's root only; programs (the
# build's own tools) from the host.
set(CMAKE_FIND_ROOT_PATH ${NODEKEEPER_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# NODEKEEPER_TARGET_ROOT (preset arm64-vm): the Debian root of an arm64
# machine the tests run on (scripts/system-test arm64 makes it and boots it).
# Given, no emulator runs them, and the libraries that native builds take
# from the build machine (libfuse3, for the virtual board) come from that
# root through pkg-config.
if(NODEKEEPER_TARGET_ROOT)
  list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NODEKEEPER_TARGET_ROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${NODEKEEPER_TARGET_ROOT})
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${NODEKEEPER_TARGET_ROOT})
  set(ENV{PKG_CONFIG_LIBDIR}
      ${NODEKEEPER_TARGET_ROOT}/usr/lib/${NODEKEEPER_CROSS_TRIPLE}/pkgconfig:${NODEKEEPER_TARGET_ROOT}/usr/share/pkgconfig)
else()
  # qemu-user ships qemu-aarch64; qemu-user-static ships qemu-aarch64-static.
  find_program(NODEKEEPER_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NODEKEEPER_QEMU_AARCH64} -L ${NODEKEEPER_CROSS_ROOT})
endif()

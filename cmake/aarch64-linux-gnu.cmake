# Cross build for the node's 64-bit Arm Linux with Debian's cross compilers
# (crossbuild-essential-arm64). Test binaries run under qemu user-mode
# emulation (qemu-user), which finds the target's C and C++ libraries under
# /usr/aarch64-linux-gnu.
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

# qemu-user ships qemu-aarch64; qemu-user-static ships qemu-aarch64-static.
find_program(NODEKEEPER_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${NODEKEEPER_QEMU_AARCH64} -L ${NODEKEEPER_CROSS_ROOT})

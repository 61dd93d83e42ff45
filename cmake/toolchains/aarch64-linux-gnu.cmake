# Cross-compiling for 64-bit ARM Linux with Debian's GNU cross toolchain
# (g++-aarch64-linux-gnu).  Programs built with it run on an AArch64 machine
# or under `qemu-aarch64 -L /usr/aarch64-linux-gnu`.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and packages for the target only (the target's GoogleTest is
# found through CMAKE_PREFIX_PATH, which the root path modes also search);
# programs from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test discovery runs the test programs at build time: through the emulator.
find_program(ORVEN_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(ORVEN_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${ORVEN_QEMU_AARCH64};-L;/usr/aarch64-linux-gnu")
endif()

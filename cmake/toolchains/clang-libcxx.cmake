# Clang with LLVM's C++ library (libc++) instead of GCC's, as on macOS:
# Debian's clang-16, libc++-16-dev and libc++abi-16-dev.  GoogleTest must be
# built with this toolchain too, since the system's is built for libstdc++.
set(ORVEN_CLANG_VERSION 16 CACHE STRING "Version suffix of the clang to use")

set(CMAKE_C_COMPILER "clang-${ORVEN_CLANG_VERSION}")
set(CMAKE_CXX_COMPILER "clang++-${ORVEN_CLANG_VERSION}")

set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-stdlib=libc++")
endforeach()

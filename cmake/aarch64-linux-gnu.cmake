# Cross-builds for 64-bit ARM Linux (Debian's arm64) with clang, whose one
# binary targets any machine, and runs what it builds under qemu-user:
#
#   cmake -B build/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# or the "arm64" preset, which also runs the tests. Debian 12 packages:
# clang, qemu-user, binutils-aarch64-linux-gnu, libc6-dev-arm64-cross,
# libstdc++-12-dev-arm64-cross and libgcc-12-dev-arm64-cross. Not GCC's own
# cross compiler, g++-aarch64-linux-gnu: apt removes g++-multilib to install
# it, and with it the m32 build.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(arm64_triple aarch64-linux-gnu)
# C too: GoogleTest's project, built here from source, asks for it.
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${arm64_triple})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${arm64_triple})
# clang finds the cross GCC's C++ library and start files under
# /usr/lib/gcc-cross, and links with aarch64-linux-gnu-ld from PATH; no
# sysroot is set, since one would hide /usr/lib/gcc-cross from it.

# Libraries and headers come from the cross tree only, never from the build
# machine; programs (bash, qemu) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${arm64_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets CTest run the programs built here; -L gives qemu the arm64 C library
# and loader, so that nothing depends on binfmt_misc.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${arm64_triple})

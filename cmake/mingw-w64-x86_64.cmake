# Cross-builds estacount.exe for 64-bit Windows with Debian's mingw-w64
# (packages g++-mingw-w64-x86-64-posix and gcc-mingw-w64-x86-64-posix):
#
#   cmake -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# or the "windows" preset, which also runs the tests under wine.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)

# The program is copied to a server on its own: link the GCC runtime, the C++
# library and winpthread (which the posix thread model pulls in) into the
# .exe, so that it needs only the DLLs every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Libraries and headers come from the mingw-w64 tree only, never from the
# build machine; programs (bash, wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets CTest run test programs built here, such as the unit tests.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# SPDX-License-Identifier: MIT
# Cross-compiles for 64-bit ARM Linux (Raspberry Pi OS arm64, on a Pi 3, 4 or 5), with Debian's
# aarch64-linux-gnu toolchain, and runs the results under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(_triplet aarch64-linux-gnu)
find_program(_arm64_cxx ${_triplet}-g++)
find_program(_arm64_cc ${_triplet}-gcc)
find_program(_arm64_qemu qemu-aarch64)
if(NOT _arm64_cxx OR NOT _arm64_cc OR NOT _arm64_qemu)
    # Indented, so that CMake prints the advice as one unwrapped line.
    message(FATAL_ERROR " arm64 cross tools missing: apt-get install g++-aarch64-linux-gnu qemu-user")
endif()

set(CMAKE_C_COMPILER "${_arm64_cc}")
set(CMAKE_CXX_COMPILER "${_arm64_cxx}")
set(CMAKE_LIBRARY_ARCHITECTURE ${_triplet})
set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C library comes from the cross toolchain's tree, with its own loader, rather than Debian's
# arm64 libraries where those are installed too (multiarch): a loader and a C library of two
# builds do not run together.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${_arm64_qemu};-L;/usr/${_triplet};-E;LD_LIBRARY_PATH=/usr/${_triplet}/lib")
set(DEVCONFIG_DEB_ARCHITECTURE arm64 CACHE STRING "Debian architecture of the packages")

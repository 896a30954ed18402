# SPDX-License-Identifier: MIT
# Cross-compiles for 32-bit ARM Linux, hard-float (Raspberry Pi OS armhf), with Debian's
# arm-linux-gnueabihf toolchain, and runs the results under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(_triplet arm-linux-gnueabihf)
find_program(_armhf_cxx ${_triplet}-g++)
find_program(_armhf_cc ${_triplet}-gcc)
find_program(_armhf_qemu qemu-arm)
if(NOT _armhf_cxx OR NOT _armhf_cc OR NOT _armhf_qemu)
    # Indented, so that CMake prints the advice as one unwrapped line.
    message(FATAL_ERROR " armhf cross tools missing: apt-get install g++-arm-linux-gnueabihf qemu-user")
endif()

set(CMAKE_C_COMPILER "${_armhf_cc}")
set(CMAKE_CXX_COMPILER "${_armhf_cxx}")
set(CMAKE_LIBRARY_ARCHITECTURE ${_triplet})
set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The Pi's hard-float ABI, stated rather than left to the compiler's default.
set(CMAKE_C_FLAGS_INIT "-mfloat-abi=hard")
# -Wno-psabi: GCC notes an ABI change of GCC 7.1 on every initializer_list parameter.
set(CMAKE_CXX_FLAGS_INIT "-mfloat-abi=hard -Wno-psabi")

# The C library comes from the cross toolchain's tree, with its own loader. Where Debian's armhf
# libraries are installed too (multiarch, for cross-building packages), the loader would otherwise
# find that other C library first in /lib/${_triplet}, and a loader and a C library of two builds
# do not run together.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${_armhf_qemu};-L;/usr/${_triplet};-E;LD_LIBRARY_PATH=/usr/${_triplet}/lib")
set(DEVCONFIG_DEB_ARCHITECTURE armhf CACHE STRING "Debian architecture of the packages")

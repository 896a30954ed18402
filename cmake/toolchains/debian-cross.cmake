# SPDX-License-Identifier: MIT
# What the cross toolchain files share: Debian's cross compilers for `_triplet`, the target's tree
# as the only place to find libraries and headers, and the results run under `_qemu`. The including
# file sets _triplet, _qemu and _deb_architecture (and CMAKE_SYSTEM_PROCESSOR) first.
set(CMAKE_SYSTEM_NAME Linux)

find_program(_cross_cxx ${_triplet}-g++)
find_program(_cross_cc ${_triplet}-gcc)
find_program(_cross_qemu ${_qemu})
if(NOT _cross_cxx OR NOT _cross_cc OR NOT _cross_qemu)
    # Indented, so that CMake prints the advice as one unwrapped line.
    message(FATAL_ERROR " ${_deb_architecture} cross tools missing: apt-get install g++-${_triplet} qemu-user")
endif()

set(CMAKE_C_COMPILER "${_cross_cc}")
set(CMAKE_CXX_COMPILER "${_cross_cxx}")
set(CMAKE_LIBRARY_ARCHITECTURE ${_triplet})
set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C library comes from the cross toolchain's tree, with its own loader. Where Debian's
# libraries of the target architecture are installed too (multiarch, for cross-building packages),
# the loader would otherwise find that other C library first in /lib/${_triplet}, and a loader and
# a C library of two builds do not run together.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${_cross_qemu};-L;/usr/${_triplet};-E;LD_LIBRARY_PATH=/usr/${_triplet}/lib:/usr/lib/${_triplet}:/lib/${_triplet}")
set(DEVCONFIG_DEB_ARCHITECTURE ${_deb_architecture} CACHE STRING "Debian architecture of the packages")

# SPDX-License-Identifier: MIT
# Cross-compiles for 32-bit ARM Linux, hard-float (Raspberry Pi OS armhf), with Debian's
# arm-linux-gnueabihf toolchain, and runs the results under qemu-arm.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(_triplet arm-linux-gnueabihf)
set(_qemu qemu-arm)
set(_deb_architecture armhf)
include("${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake")

# The Pi's hard-float ABI, stated rather than left to the compiler's default.
set(CMAKE_C_FLAGS_INIT "-mfloat-abi=hard")
# -Wno-psabi: GCC notes an ABI change of GCC 7.1 on every initializer_list parameter.
set(CMAKE_CXX_FLAGS_INIT "-mfloat-abi=hard -Wno-psabi")

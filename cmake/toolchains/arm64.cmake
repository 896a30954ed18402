# SPDX-License-Identifier: MIT
# Cross-compiles for 64-bit ARM Linux (Raspberry Pi OS arm64, on a Pi 3, 4 or 5), with Debian's
# aarch64-linux-gnu toolchain, and runs the results under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(_triplet aarch64-linux-gnu)
set(_qemu qemu-aarch64)
set(_deb_architecture arm64)
include("${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake")

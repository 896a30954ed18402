#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that the library is what a Raspberry Pi running 64-bit ARM Linux needs: a 64-bit AArch64
# ELF shared object, little-endian.
# Usage: arm64_elf_test.sh READELF LIBRARY
set -euo pipefail
header=$("$1" -h "$2")
fail=0
for check in 'Class:[[:space:]]+ELF64' 'Data:.*little endian' 'Type:[[:space:]]+DYN' \
    'Machine:[[:space:]]+AArch64'; do
    grep -qE "$check" <<<"$header" && echo "ok: $check" || { echo "FAILED: no '$check'"; fail=1; }
done
exit $fail

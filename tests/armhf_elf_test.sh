#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that the library is what a Raspberry Pi running 32-bit ARM Linux needs: a 32-bit ARM ELF
# shared object, EABI version 5, with the hard-float calling convention (Tag_ABI_VFP_args).
# Usage: armhf_elf_test.sh READELF LIBRARY
set -euo pipefail
readelf=$1
library=$2
header=$("$readelf" -h "$library")
attributes=$("$readelf" -A "$library")
fail=0
expect() {  # expect WHAT TEXT PATTERN
    if grep -qE "$3" <<<"$2"; then
        echo "ok: $1"
    else
        echo "FAILED: $1 (no '$3')"
        fail=1
    fi
}
expect "32-bit ELF" "$header" 'Class:[[:space:]]+ELF32'
expect "shared object" "$header" 'Type:[[:space:]]+DYN'
expect "ARM machine" "$header" 'Machine:[[:space:]]+ARM'
expect "EABI version 5" "$header" 'Flags:.*Version5 EABI'
expect "hard-float ABI flag" "$header" 'Flags:.*hard-float ABI'
expect "arguments in VFP registers" "$attributes" 'Tag_ABI_VFP_args: VFP registers'
exit $fail

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the board's listeners cost a line operation, in instructions per byte sent over the link
# (26 line operations each), counted by callgrind: with nothing listening, with two devices on SPI0
# that no line change reaches, with the link's device taking every byte, and with a VCD streaming
# every line. Usage: device_cost.sh BOARD_MEMORY_PROGRAM
set -euo pipefail
program=$1
if ! command -v valgrind >/dev/null; then
    echo "valgrind is not installed (apt-get install valgrind)" >&2
    exit 1
fi
small=4096
large=20480
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

instructions() {  # instructions BYTES MODE
    valgrind --tool=callgrind --callgrind-out-file="$work/out" "$program" "$1" "$2" >/dev/null \
        2>"$work/log"
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p' "$work/log"
}

printf '%-12s %22s\n' "listening" "instructions per byte"
for mode in ${MODES:-none spi-devices link-device vcd}; do
    a=$(instructions $small $mode)
    b=$(instructions $large $mode)
    printf '%-12s %22d\n' "$mode" $(( (b - a) / (large - small) ))
done

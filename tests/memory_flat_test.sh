#!/usr/bin/env bash
# The virtual board's memory must not grow with the length of a transfer while a VCD streams:
# compares the peak resident size, less the caller's buffer, for a short and a 16 times longer
# transfer over the three-wire link. Usage: memory_flat_test.sh BOARD_MEMORY
set -euo pipefail
program=$1
board_kib() { "$program" "$1" vcd | sed -n 's/.*less the buffer \([0-9]*\) KiB.*/\1/p'; }
short=$(board_kib 16384)
long=$(board_kib 262144)
echo "board memory while streaming: ${short} KiB for 16 KiB sent, ${long} KiB for 256 KiB sent"
if [ "$long" -gt $((short + 512)) ]; then
    echo "FAILED: the board grew by $((long - short)) KiB with the transfer"
    exit 1
fi

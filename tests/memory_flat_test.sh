#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The virtual board's memory must not grow with the length of a session while its output streams:
# compares the peak resident size, less the caller's buffer, for a short and a 16 times longer
# session over the three-wire link. MODE vcd sends one long transfer with a VCD streaming (16 KiB
# and 256 KiB); MODE transactions frames every byte, streaming the transaction table (65536 and
# a million transactions). Usage: memory_flat_test.sh BOARD_MEMORY [MODE]
set -euo pipefail
program=$1
mode=${2:-vcd}
if [ "$mode" = transactions ]; then short_n=65536 long_n=1048576; else short_n=16384 long_n=262144; fi
board_kib() { "$program" "$1" "$mode" | sed -n 's/.*less the buffer \([0-9]*\) KiB.*/\1/p'; }
# The short session's largest of three: a busy machine can leave a short one below its usual
# peak (the VCD's writer thread not yet as far as it goes), which is no growth of the long one.
short=0
for _ in 1 2 3; do
    kib=$(board_kib "$short_n")
    if [ "$kib" -gt "$short" ]; then short=$kib; fi
done
long=$(board_kib "$long_n")
echo "board memory streaming $mode: ${short} KiB for $short_n bytes, ${long} KiB for $long_n bytes"
if [ "$long" -gt $((short + 512)) ]; then
    echo "FAILED: the board grew by $((long - short)) KiB with the session"
    exit 1
fi

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the recorder costs a wiringPi call, in instructions counted by callgrind: the layer_calls
# program's direct wiringPi calls over a wiringPi that does nothing, with libvboard-record.so
# preloaded and without; the difference per call, start-up and shut-down cancelled out, is the
# recorder's own work, its writer thread's formatting and writing included.
# Usage: record_cost.sh LAYER_CALLS_PROGRAM RECORD_LIBRARY
set -euo pipefail
program=$1 library=$2
if ! command -v valgrind >/dev/null; then
    echo "valgrind is not installed (apt-get install valgrind)" >&2
    exit 1
fi
small=1024
large=9216
calls_per_byte=26  # a byte sent: pinMode, then three digitalWrite a bit, then one more
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

instructions() {  # instructions PRELOAD N THREAD: THREAD 1 is the program's, 2 the writer's
    rm -f "$work"/out*
    LD_PRELOAD=$1 VBOARD_RECORD="$work/trace" valgrind --tool=callgrind --separate-threads=yes \
        --callgrind-out-file="$work/out" "$program" direct send "$2" >/dev/null 2>"$work/log"
    if [ -f "$work/out-0$3" ]; then
        sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$work/out-0$3"
    else
        echo 0
    fi
}

per_call() {  # per_call PRELOAD THREAD
    local a b
    a=$(instructions "$1" $small "$2")
    b=$(instructions "$1" $large "$2")
    echo $(( (b - a) / ((large - small) * calls_per_byte) ))
}

bare=$(per_call "" 1)
recorded=$(per_call "$library" 1)
writer=$(per_call "$library" 2)
printf '%-36s %8s\n' "a wiringPi call" "instr"
printf '%-36s %8s\n' "over a null wiringPi" "$bare"
printf '%-36s %8s\n' "recorded: on the program's thread" "$recorded"
printf '%-36s %8s\n' "the recorder's own, that thread" "$((recorded - bare))"
printf '%-36s %8s\n' "the recorder's own, its writer" "$writer"

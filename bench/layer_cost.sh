#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The layer's own cost per byte over the three-wire link, in instructions counted by callgrind,
# against a baseline that makes the same wiringPi calls directly; both run on a wiringPi whose
# functions do nothing. Usage: layer_cost.sh LAYER_CALLS_PROGRAM
set -euo pipefail
program=$1
if ! command -v valgrind >/dev/null; then
    echo "valgrind is not installed (apt-get install valgrind)" >&2
    exit 1
fi
small=1024
large=9216
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

instructions() {  # instructions HOW WHAT N
    valgrind --tool=callgrind --callgrind-out-file="$work/out" "$program" "$@" >/dev/null 2>"$work/log"
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p' "$work/log"
}

per_byte() {  # per_byte HOW WHAT: instructions per byte, start-up and shut-down cancelled out
    local a b
    a=$(instructions "$1" "$2" $small)
    b=$(instructions "$1" "$2" $large)
    echo $(( (b - a) / (large - small) ))
}

printf '%-8s %14s %14s %9s\n' "byte" "layer (instr)" "direct (instr)" "overhead"
status=0
for what in send recv; do
    layer=$(per_byte layer $what)
    direct=$(per_byte direct $what)
    overhead=$(awk -v l="$layer" -v d="$direct" 'BEGIN { printf "%+.1f%%", (l - d) * 100 / d }')
    printf '%-8s %14s %14s %9s\n' "$what" "$layer" "$direct" "$overhead"
    if ! awk -v l="$layer" -v d="$direct" 'BEGIN { exit !(l <= d * 1.10) }'; then
        echo "the layer costs more than 10% over the direct calls for $what" >&2
        status=1
    fi
done
exit $status

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What vboard run costs a plain-C driver per byte sent over the link in 4 KiB frames, counted by
# callgrind over every process and thread of the run (vboard, the driver and the VCD writer's
# thread): the marginal instructions between a short and a long run, with no output and with
# --vcd. Repeatable, unlike timings. Usage: runner_cost.sh VBOARD LINK_SENDER
set -euo pipefail
vboard=$1 sender=$2
if ! command -v valgrind >/dev/null; then
    echo "valgrind is not installed (apt-get install valgrind)" >&2
    exit 1
fi
small=65536
large=327680
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '[board]\nreal_sleep = false\n' >"$work/board.toml"

instructions() {  # instructions BYTES [OPTIONS...]: every process's total
    local bytes=$1
    shift
    rm -f "$work"/cg.* "$work/run.vcd"
    valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/cg.%p" \
        "$vboard" run --board "$work/board.toml" "$@" -- "$sender" "$bytes" >/dev/null 2>"$work/log"
    local total=0 n
    for file in "$work"/cg.*; do
        n=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$file")
        total=$((total + ${n:-0}))
    done
    echo "$total"
}

printf '%-22s %22s\n' "vboard run with" "instructions per byte"
for mode in none vcd; do
    options=()
    [ "$mode" = vcd ] && options=(--vcd "$work/run.vcd")
    a=$(instructions $small "${options[@]}")
    b=$(instructions $large "${options[@]}")
    printf '%-22s %22d\n' "$( [ "$mode" = vcd ] && echo "--vcd FILE" || echo "no output")" \
        $(( (b - a) / (large - small) ))
done

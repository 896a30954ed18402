#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with the fuzz preset and runs each for SECONDS (default 60) from
# the committed seed corpus. Exits non-zero on any crash, sanitizer report or broken invariant.
# Usage: fuzz/run.sh [SECONDS]
set -uo pipefail
summary=()
seconds=${1:-60}
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz || exit 1
for target in parser_fuzz board_fuzz board_file_fuzz transactions_fuzz device_fuzz display_fuzz \
    trace_fuzz capture_fuzz; do
    corpus="build/fuzz/corpus/${target%_fuzz}"
    mkdir -p "$corpus"
    echo "== $target for ${seconds}s"
    log="build/fuzz/$target.log"
    "build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/$target-" \
        "$corpus" "fuzz/corpus/${target%_fuzz}" >"$log" 2>&1
    status=$?
    tail -n 12 "$log"
    [ "$status" = 0 ] || { echo "$target failed (status $status)" >&2; exit "$status"; }
    # The rate, so that a drop in throughput shows in CI's log.
    summary+=("$(printf '%-18s %8s inputs a second' "$target" \
        "$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")")")
done
echo "== executions per second"
printf '%s\n' "${summary[@]}"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with the fuzz preset and runs each for SECONDS (default 60) from
# the committed seed corpus. Exits non-zero on any crash, sanitizer report or broken invariant.
# Usage: fuzz/run.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
cd "$(dirname "$0")/.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in parser_fuzz board_fuzz board_file_fuzz transactions_fuzz device_fuzz display_fuzz; do
    corpus="build/fuzz/corpus/${target%_fuzz}"
    mkdir -p "$corpus"
    echo "== $target for ${seconds}s"
    "build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/$target-" \
        "$corpus" "fuzz/corpus/${target%_fuzz}" 2>&1 | tail -n 12
done

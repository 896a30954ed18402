#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The runner as users run it: vboard run on a plain-C driver that sends 2 MiB over the link in
# 4 KiB frames (bench/link_sender.c), in three set-ups: no output; the VCD to a file; the VCD, the
# transactions, two timing checks and a dozen rules that never fire (edges of untouched lines,
# moments hours away, lines held low that their pull-ups keep high). Prints the median wall clock
# of five runs of each and the simulated seconds per real second.
# Usage: runner_speed.sh VBOARD LINK_SENDER [RUNS]
set -euo pipefail
vboard=$1 sender=$2 runs=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/board.toml" <<'TOML'
[board]
real_sleep = false

[[timing]]
check = "clock_rate"
max_hz = 20000000

[[timing]]
check = "select_to_clock"
select = 8
min = "20ns"
TOML
for i in 1 2 3 4; do
    cat >>"$work/board.toml" <<TOML

[[rule]]
on = "rising"
pin = 2$((i - 1))
drive = 5
to = "low"

[[rule]]
on = "time"
at = "${i}000s"
drive = 6
to = "high"

[[rule]]
on = "held"
pin = $((i + 1))
level = "low"
hold = "1ms"
drive = 12
to = "high"
TOML
done

# The simulated length of the run, from the JUnit file's property.
"$vboard" run --junit "$work/j.xml" -- "$sender" >/dev/null
simulated=$(sed -n 's/.*name="simulated_seconds" value="\([0-9.]*\)".*/\1/p' "$work/j.xml")

median_seconds() {  # median_seconds VBOARD-RUN-ARGS...
    local times=()
    for _ in $(seq "$runs"); do
        local start end
        # Each run writes new files: freeing a previous run's 589 MB VCD is the file system's
        # time (about 0.15 s here), not the runner's.
        rm -f "$work/run.vcd" "$work/t.txt"
        start=$(date +%s.%N)
        "$vboard" run "$@" -- "$sender" >/dev/null
        end=$(date +%s.%N)
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

printf 'the driver: %s simulated seconds\n' "$simulated"
printf '%-52s %10s %12s\n' "vboard run (its defaults) with" "real s" "sim s/real s"
while IFS='|' read -r label args; do
    # shellcheck disable=SC2086
    real=$(median_seconds $args)
    printf '%-52s %10.3f %12.2f\n' "$label" "$real" \
        "$(awk -v s="$simulated" -v r="$real" 'BEGIN { printf "%.4f", s / r }')"
done <<ROWS
no output|
--vcd FILE|--vcd $work/run.vcd
--vcd, --transactions, 2 timing checks, 12 idle rules|--vcd $work/run.vcd --transactions $work/t.txt --board $work/board.toml
ROWS

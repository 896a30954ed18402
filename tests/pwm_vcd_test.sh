#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The PWM's wave drawn into the VCD when the board file asks for it: the Pi-style example's
# backlight (BCM 18, balanced mode, a quarter of the range) runs with pwm_waveform on, and the
# waveform's BCM 18 must be high a quarter of the time over its first thousand edges. Its reset
# (BCM 17), held low with usleep(11000), must be 11 ms long in the waveform too.
# Usage: pwm_vcd_test.sh VBOARD PI_PANEL BOARD_FILE WORKDIR
set -euo pipefail
vboard=$1 program=$2 board=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
sed 's/^\[board\]$/[board]\npwm_waveform = true/' "$board" >"$work/board.toml"
"$vboard" run --timeout 5s --board "$work/board.toml" --vcd "$work/run.vcd" -- "$program" >/dev/null
# The identifier of BCM 18, then its changes: "edges high-share".
awk '
    $1 == "$var" && $5 ~ /^bcm18/ { id = $4 }
    /^\$dumpvars/ { dump = 1 }
    /^\$end/ { dump = 0 }
    /^#/ { now = substr($0, 2) + 0; next }
    !dump && id != "" && (substr($0, 2) == id) && edges <= 1000 {
        level = substr($0, 1, 1)
        if (edges > 0 && previous == "1") { high += now - since }
        if (edges == 0) { first = now }
        since = now; previous = level; edges++
        if (level == "1") { last_rise = now }
        if (level == "0") { last_fall = now; high_end = high }
    }
    END {
        span = last_fall - first
        printf "%d %.3f\n", edges, (span > 0 ? high_end / span : 0)
    }' "$work/run.vcd" >"$work/measured"
read -r edges share <"$work/measured"
echo "BCM 18: $edges edges measured, high $share of the time"
if [ "$edges" -lt 1000 ]; then
    echo "FAILED: the backlight's wave is not drawn ($edges edges)" >&2
    exit 1
fi
awk -v s="$share" 'BEGIN { exit !(s > 0.24 && s < 0.26) }' || {
    echo "FAILED: the backlight is high $share of the time, not a quarter" >&2
    exit 1
}
# The reset: BCM 17's low stretch, in the file's nanoseconds.
low=$(awk '
    $1 == "$var" && $5 ~ /^bcm17/ { id = $4 }
    /^\$dumpvars/ { dump = 1 }
    /^\$end/ { dump = 0 }
    /^#/ { now = substr($0, 2) + 0; next }
    !dump && id != "" && substr($0, 2) == id {
        if (substr($0, 1, 1) == "0") { fell = now } else if (fell != "" && low == "") { low = now - fell }
    }
    END { print low + 0 }' "$work/run.vcd")
echo "BCM 17 (reset): low for $low ns"
if [ "$low" -lt 11000000 ] || [ "$low" -gt 11001000 ]; then
    echo "FAILED: the reset held with usleep(11000) is $low ns long in the waveform" >&2
    exit 1
fi

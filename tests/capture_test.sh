#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A run's own VCD played back as a logic analyser's capture: on SPI0 it gives the run's
# transactions byte for byte; on the link, the run's bytes with no direction, and the display
# model draws the run's frames; converted by sigrok-cli to a session file, the same. Captures and
# maps that cannot be used are refused with status 3 and one line. Under an emulator
# (RUN_EMULATOR), the target's programs run through it.
# Usage: capture_test.sh VBOARD DROPIN_DIR PI_PANEL PI_PANEL_TOML BWR_PANEL BWR_PANEL_TOML
#                        SENSOR_DRIVER SENSOR_TOML WORKDIR
set -uo pipefail
vboard=$1 dropin=$2 pi_panel=$3 pi_toml=$4 bwr_panel=$5 bwr_toml=$6 sensor=$7 sensor_toml=$8
work=$9
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
fail=0
failed() { echo "FAILED: $*"; fail=1; }
emulator=${RUN_EMULATOR:-}
# A program built with a sanitizer accepts the drop-in preloaded before its runtime.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
vboard_tool() { if [ -n "$emulator" ]; then $emulator "$vboard" "$@"; else "$vboard" "$@"; fi; }

# direct NAME PROGRAM TOML: the program's run on the board, with its VCD, transactions and frames.
direct() {
    local name=$1 program=$2 toml=$3 vars
    mkdir -p "$name/frames"
    vars=(VBOARD_BOARD="$toml" VBOARD_NO_SLEEP=1 VBOARD_VCD="$name/run.vcd"
        VBOARD_TRANSACTIONS="$name/run.tx" VBOARD_FRAMES="$name/frames"
        LD_PRELOAD="$dropin/libwiringPi.so")
    if [ -n "$emulator" ]; then
        local flags=()
        for v in "${vars[@]}"; do flags+=(-E "$v"); done
        $emulator "${flags[@]}" "$program" >/dev/null
    else
        env "${vars[@]}" "$program" >/dev/null
    fi || failed "$name: the direct run"
}

# The bench's VCD names each line bcmN_ROLE.
map="bcm11_sclk=11,bcm10_mosi=10,bcm9_miso=9,bcm8_ce0=8,bcm7_ce1=7,bcm25_out_a=25"
map+=",bcm17_out_b=17,bcm24_in=24"

direct pi "$pi_panel" "$pi_toml"
vboard_tool replay --capture pi/run.vcd --channels "$map" --board "$pi_toml" \
    --transactions pi/capture.tx 2>pi/capture.err || failed "pi: status $? $(cat pi/capture.err)"
cmp -s pi/run.tx pi/capture.tx ||
    failed "pi: the capture's SPI transactions differ: $(diff pi/run.tx pi/capture.tx | head -n 4)"

direct bwr "$bwr_panel" "$bwr_toml"
mkdir -p bwr/capture
vboard_tool replay --capture bwr/run.vcd --channels "$map" --board "$bwr_toml" \
    --transactions bwr/capture.tx --frames bwr/capture --expect bwr/run.tx \
    --expect-frames bwr/frames 2>bwr/capture.err ||
    failed "bwr: the capture against the run: status $? $(head -n 3 bwr/capture.err)"
grep -q '  link  BCM8   ? ' bwr/capture.tx || failed "bwr: the link's bytes have a direction"
grep -q '^# ? bytes: seen on the link.s data line by a capture' bwr/capture.tx ||
    failed "bwr: the table does not say what its ? bytes are"
[ "$(ls bwr/capture | wc -l)" -ge 1 ] || failed "bwr: no frame drawn from the capture"

# The sensor's reads and writes on the link, through a sigrok session and back.
direct sensor "$sensor" "$sensor_toml"
vboard_tool replay --capture sensor/run.vcd --channels "$map" --board "$sensor_toml" \
    --transactions sensor/capture.tx --expect sensor/run.tx 2>sensor/capture.err ||
    failed "sensor: the capture against the run: status $? $(head -n 3 sensor/capture.err)"
if command -v sigrok-cli >/dev/null; then
    sigrok-cli -I vcd -i sensor/run.vcd -o sensor/run.sr || failed "sigrok-cli made no session"
    vboard_tool replay --capture sensor/run.sr --channels "$map" --board "$sensor_toml" \
        --transactions sensor/session.tx 2>sensor/session.err ||
        failed "sensor: the session: status $? $(head -n 3 sensor/session.err)"
    cmp -s sensor/capture.tx sensor/session.tx ||
        failed "sensor: the session's transactions differ from the VCD's"
else
    echo "sigrok-cli is not installed: the session round trip is not tried"
fi

# refuse NAME STATUS EXPECTED-LINE REPLAY-ARGS...: one line on standard error, and the status.
refuse() {
    local name=$1 want=$2 line=$3 err status
    shift 3
    err=$(vboard_tool replay "$@" 2>&1 >/dev/null)
    status=$?
    [ "$status" = "$want" ] || failed "$name: status $status, not $want"
    [ "$err" = "vboard: $line" ] || failed "$name: said '$err', not '$line'"
}
refuse missing_channel 3 "pi/run.vcd:15: no signal D7 in the capture (its signals: bcm11_sclk, bcm10_mosi, bcm9_miso, bcm8_ce0, bcm7_ce1, bcm25_out_a, bcm17_out_b, bcm24_in, bcm18_en, bcm5)" \
    --capture pi/run.vcd --channels D7=11
refuse bad_map 3 "--channels: expected NAME=BCM, as D0=11, not 'bcm11_sclk'" \
    --capture pi/run.vcd --channels bcm11_sclk
refuse missing_file 3 "nothing.vcd: cannot read: No such file or directory" \
    --capture nothing.vcd --channels D0=11
refuse channels_alone 2 "--channels needs --capture FILE" --channels D0=11
refuse no_channels 2 "--capture needs --channels MAP: which captured signal is which BCM line, as D0=11,D1=10" \
    --capture pi/run.vcd
refuse both 2 "replay takes a trace or --capture FILE, not both" \
    some.trace --capture pi/run.vcd --channels D0=11
refuse glitch 2 "--glitch '20' is not a duration with its unit (20ns, 1us)" \
    --capture pi/run.vcd --channels D0=11 --glitch 20
exit $fail

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The round trip from a recording to the bench: a program run on the board with its call log as a
# trace, and recorded by libvboard-record over the board's drop-in wiringPi (standing in for a
# real one), replays into the same VCD, transactions and frames; a model that answers otherwise
# than the recording is named and ends the replay with status 7; traces that cannot be read are
# refused with their line; the recorder's trace is complete when the program crashes; the
# wrapper's own errors. Under an emulator (RUN_EMULATOR), the target's programs run through it,
# and the library is preloaded by hand, as an emulator does not follow the wrapper's exec.
# A recording is also a device: the example answered by its own recording, and a changed driver
# told where it parts from it.
# Usage: replay_test.sh VBOARD VBOARD_RECORD RECORD_LIBRARY DROPIN_DIR PI_PANEL PI_PANEL_TOML
#                       BWR_PANEL BWR_PANEL_TOML PI_PANEL_TRANSACTIONS ENDING PI_PANEL_CHANGED
#                       WORKDIR
set -uo pipefail
vboard=$1 record=$2 library=$3 dropin=$4 pi_panel=$5 pi_toml=$6 bwr_panel=$7 bwr_toml=$8
pi_golden=$9 ending=${10} pi_changed=${11} work=${12}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
fail=0
failed() { echo "FAILED: $*"; fail=1; }
emulator=${RUN_EMULATOR:-}
# A program built with a sanitizer accepts the libraries preloaded before its runtime.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0

# run_target VAR=VALUE... -- PROGRAM ARGS...: a target program with its environment.
run_target() {
    local vars=()
    while [ "$1" != "--" ]; do
        vars+=("$1")
        shift
    done
    shift
    if [ -n "$emulator" ]; then
        local flags=()
        for v in "${vars[@]}"; do flags+=(-E "$v"); done
        $emulator "${flags[@]}" "$@"
    else
        env "${vars[@]}" "$@"
    fi
}
vboard_tool() { if [ -n "$emulator" ]; then $emulator "$vboard" "$@"; else "$vboard" "$@"; fi; }

# The board files with the C library's clock reads free, so that a recorder reading the clock
# at each call leaves the board's time as it was.
for name in pi bwr; do
    toml_var=${name}_toml
    { cat "${!toml_var}"; printf '\n[costs]\nclock_read = "0ns"\n'; } >"$name.toml"
done

# A trace's calls with their results and bytes, in a sorted list: the board's own lines (notes,
# devices', rules'), the C library's waits, the lines pins reached and flags left out.
calls_of() {
    sed -n 's/^ *[0-9]* ns  //p' "$1" | grep -v '^note: \|^rule \|^[A-Za-z0-9_.-]*: ' |
        grep -v '^\(usleep\|nanosleep\|clock_nanosleep\|sleep\)(' |
        sed 's/ -> BCM [0-9]*//; s/ \[[A-Za-z0-9]*\]$//' | sort
}

# round_trip NAME PROGRAM: the direct run, the recorded run and the two replays agree.
round_trip() {
    local name=$1 program=$2
    mkdir -p "$name"/{direct,recorded,replayed,rerecorded}
    local board=(VBOARD_BOARD="$PWD/$name.toml" VBOARD_NO_SLEEP=1)
    run_target "${board[@]}" VBOARD_LOG="$name/direct.trace" VBOARD_VCD="$name/direct.vcd" \
        VBOARD_TRANSACTIONS="$name/direct.tx" VBOARD_FRAMES="$name/direct" \
        LD_PRELOAD="$dropin/libwiringPi.so" -- "$program" >/dev/null ||
        failed "$name: the direct run"
    if [ -n "$emulator" ]; then
        run_target "${board[@]}" VBOARD_RECORD="$name/recorded.trace" \
            VBOARD_VCD="$name/recorded.vcd" VBOARD_FRAMES="$name/recorded" \
            LD_PRELOAD="$library:$dropin/libwiringPi.so" -- "$program" >/dev/null
    else
        env "${board[@]}" VBOARD_VCD="$name/recorded.vcd" VBOARD_FRAMES="$name/recorded" \
            LD_PRELOAD="$dropin/libwiringPi.so" "$record" -o "$name/recorded.trace" -- \
            "$program" >/dev/null
    fi || failed "$name: the recorded run"
    head -n 2 "$name/recorded.trace" | tr '\n' ' ' | grep -q '^vboard-trace 1 source recorder' ||
        failed "$name: the recording's header: $(head -n 2 "$name/recorded.trace")"
    cmp -s "$name/direct.vcd" "$name/recorded.vcd" || failed "$name: recording changed the run"
    # The same calls, results and bytes, whatever their times.
    [ "$(calls_of "$name/direct.trace")" = "$(calls_of "$name/recorded.trace")" ] ||
        failed "$name: the recording's calls differ from the run's: $(diff <(calls_of "$name/direct.trace") <(calls_of "$name/recorded.trace") | head -n 5)"
    for trace in direct recorded; do
        # Under a sanitizer the program's clock reads stay the C library's, and a recording's times
        # are the real ones of a run on the board: its replay judges that run's timing.
        [ "$trace" = recorded ] && [ -n "${SANITIZED:-}" ] && continue
        local out="$name/$trace-replay"
        mkdir -p "$out"
        vboard_tool replay "$name/$trace.trace" --board "$name.toml" --vcd "$out.vcd" \
            --transactions "$out.tx" --frames "$out" --expect "$name/direct.tx" 2>"$out.err" ||
            failed "$name: replaying the $trace trace: status $? $(cat "$out.err")"
        diff -r "$name/direct" "$out" >/dev/null || failed "$name: the $trace trace's frames differ"
        cmp -s "$name/direct.vcd" "$out.vcd" || failed "$name: the $trace trace's VCD differs"
        cmp -s "$name/direct.tx" "$out.tx" || failed "$name: the $trace trace's transactions differ"
    done
}
round_trip pi "$pi_panel"
round_trip bwr "$bwr_panel"
[ "$(ls bwr/direct | wc -l)" -ge 1 ] || failed "bwr_panel showed no frame"

# A recording checked against the bench's golden file, and against a model that is wrong: the
# busy line a rule holds for 5 ms where the panel held it for 10. Under a sanitizer, the run's own
# trace stands in for the recording (above).
recording=pi/recorded.trace
[ -n "${SANITIZED:-}" ] && recording=pi/direct.trace
vboard_tool replay "$recording" --board pi.toml --expect "$pi_golden" >/dev/null 2>&1 ||
    failed "the recording against the golden file: status $?"
sed 's/for = "10ms"/for = "5ms"/' pi.toml >short.toml
vboard_tool replay "$recording" --board short.toml --expect "$pi_golden" --junit short.xml \
    >/dev/null 2>short.err
status=$?
[ "$status" = 7 ] || failed "a wrong model: status $status, not 7"
grep -q "replay: digitalRead(5) -> BCM 24 = 1 at [0-9.]* m\?s: the board's models answered 0, the recording 1" short.err ||
    failed "a wrong model's diagnostic: $(head -n 3 short.err)"
grep -q "answered reads otherwise than it recorded" short.xml || failed "the JUnit of a wrong model"

# The panel and its busy line answered by the recording instead of the board file's models: the
# driver runs as it did; the changed one is told where it parted, and then gets no answer.
{
    printf '[board]\nreal_sleep = false\n\n[[device]]\nmodel = "recording"\nname = "panel"\n'
    printf 'bus = "spi0"\nlines = { busy = 24 }\nparams = { trace = "%s" }\n\n' "$recording"
    sed -n '/^\[\[rule\]\]$/,$p' pi.toml | sed -n '/name = "button"/,$p' | sed '1i [[rule]]'
} >recorded_panel.toml
for driver in pi_panel pi_changed; do
    run_target VBOARD_BOARD="$PWD/recorded_panel.toml" VBOARD_NO_SLEEP=1 \
        VBOARD_TRANSACTIONS="$driver.tx" VBOARD_LOG="$driver.log" \
        LD_PRELOAD="$dropin/libwiringPi.so" -- "${!driver}" >/dev/null 2>&1
done
vboard_tool replay pi/direct.trace --board pi.toml --expect pi_panel.tx >/dev/null 2>&1 ||
    failed "the recording as a device: the run's transactions differ from the recording's"
grep -q "note: panel: the run parts from the recording .*$recording: the program made a transfer of \[13\] on SPI0 channel 0 at [0-9.]* m\?s where the recording made wiringPiSPIDataRW(0, \[12\], 1) = 1 received \[[0-9a-f]*\] at [0-9.]* m\?s; the device answers nothing more" pi_changed.log ||
    failed "the changed driver's parting: $(grep 'parts from' pi_changed.log)"
[ "$(grep -c 'parts from' pi_changed.log)" = 1 ] || failed "the parting is said more than once"
grep -q "parts from" pi_panel.log && failed "the recorded driver parts from its own recording"

# Traces that cannot be read: status 3 and one line naming the file and line.
good=pi/direct.trace
refuse() {  # refuse NAME EXPECTED-TEXT (the trace is NAME.trace)
    local err status
    err=$(vboard_tool replay "$1.trace" 2>&1 >/dev/null)
    status=$?
    [ "$status" = 3 ] || failed "$1: status $status, not 3"
    [ "$(printf '%s\n' "$err" | wc -l)" = 1 ] || failed "$1: more than one line: $err"
    [[ "$err" == "vboard: $1.trace:$2" ]] || failed "$1: said '$err', not '$2'"
}
sed '1s/.*/vboard-trace 2/' "$good" >version.trace
refuse version "1: trace version 2 is not one this board reads (version 1)"
sed '1s/.*/a call log/' "$good" >other.trace
refuse other '1: not a trace: the first line should be "vboard-trace 1"'
sed '3a colour blue' "$good" >header.trace
refuse header '4: unknown header line "colour blue" (a header line is source, model or wiringpi)'
sed '7a \      5000 ns  digitalFlip(3)' "$good" >call.trace
refuse call '8: unknown call "digitalFlip"'
sed '7a something else' "$good" >unknown.trace
refuse unknown '8: unknown line "something else" (expected TIME ns  CALL)'
sed '7a \      5000 ns  wiringPiSPIDataRW(0, [3g], 1) = 1' "$good" >bytes.trace
refuse bytes '8: a byte as two hex digits, not "3g"'

mkdir -p directory.trace
refuse directory " is a directory, not a trace"
# A trace that cannot be read leaves the outputs as they were.
echo kept >kept.vcd
vboard_tool replay missing.trace --vcd kept.vcd 2>/dev/null
[ "$(cat kept.vcd)" = kept ] || failed "a missing trace emptied an output"

# A recording cut short by power loss: read up to its last whole line, with a note.
head -c -7 "$good" >cut.trace
vboard_tool replay cut.trace --board pi.toml >/dev/null 2>cut.err || failed "a cut trace: status $?"
grep -q "cut.trace:$(wc -l <"$good"): the last line is cut short" cut.err ||
    failed "a cut trace's note: $(cat cut.err)"

# The recorder's trace is complete however the program ends.
for how in exit segv abort; do
    run_target VBOARD_NO_SLEEP=1 VBOARD_RECORD="$how.trace" \
        LD_PRELOAD="$library:$dropin/libwiringPi.so" ASAN_OPTIONS="$ASAN_OPTIONS:handle_segv=0:handle_abort=0" \
        TSAN_OPTIONS=handle_segv=0:handle_abort=0 -- "$ending" "$how" >/dev/null 2>&1
    tail -n 1 "$how.trace" | grep -q " ns  digitalWrite(11, 1)$" ||
        failed "ending by $how: the trace ends $(tail -n 1 "$how.trace")"
    vboard_tool replay "$how.trace" >/dev/null 2>&1 || failed "ending by $how: the trace replays"
done

# The wrapper's own errors; without an emulator only, as it execs the program.
if [ -z "$emulator" ]; then
    "$record" -- true 2>/dev/null
    [ $? = 2 ] || failed "vboard-record without -o"
    err=$("$record" -o missing/x.trace -- true 2>&1)
    [ $? = 3 ] || failed "vboard-record with a trace it cannot write"
    [[ "$err" == "vboard-record: cannot write 'missing/x.trace': No such file or directory" ]] ||
        failed "vboard-record said '$err'"
    "$record" -o x.trace -- ./no-such-program 2>/dev/null
    [ $? = 127 ] || failed "vboard-record with a missing program"
    "$record" -o x.trace -- sh -c 'exit 9'
    [ $? = 9 ] || failed "vboard-record passes the program's status on"
fi
exit $fail

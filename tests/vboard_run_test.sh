#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# vboard run end to end: the example driver through its busy waits, every way a program can end
# with its files complete, the timeout, a refused board file, and the environment without vboard.
# Usage: vboard_run_test.sh VBOARD BUSY_DEVICE BUSY_DEVICE_TOML ENDING DROPIN_DIR WORKDIR
set -uo pipefail
vboard=$1 busy_device=$2 busy_toml=$3 ending=$4 dropin=$5 work=$6
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
fail=0
failed() { echo "FAILED: $*"; fail=1; }

# The example driver passes through both busy waits and reads its status byte.
out=$("$vboard" run --board "$busy_toml" --vcd busy.vcd --log busy.log --timeout 1s -- "$busy_device")
status=$?
[ "$status" = 0 ] || failed "busy_device: status $status"
[[ "$out" == *"status 0x5a"* ]] || failed "busy_device printed '$out'"
grep -q 'digitalRead(24) = 0' busy.log || failed "busy_device never saw the busy line low"
[ "$(grep -c 'digitalRead(24) = 1' busy.log)" -ge 2 ] || failed "busy_device did not see idle twice"

# The run names the lines on the page: the layer's pin map by default (its package's names file),
# else --line-names, and the board file's [names] after them.
printf '[names]\n24 = "BUSY"\n' >names.toml
"$vboard" run --no-sleep --report named.html -- "$ending" return >/dev/null
grep -q '"names":\[\[11,"DEV_SCLK_PIN"\],' named.html || failed "the page lacks the layer's names"
"$vboard" run --no-sleep --line-names 17=RST,24=IN --board names.toml --report named.html \
    -- "$ending" return >/dev/null
grep -q '"names":\[\[17,"RST"\],\[24,"BUSY"\]\]' named.html ||
    failed "the page's names: $(grep -o '"names":[^]]*]*' named.html)"

# The default names are the files packages install beside vboard (the layer's gives its pin map),
# read in the order of their names, a later name of a line winning; a file that is not a list is
# refused.
mkdir -p tree/bin tree/share/vboard/line-names.d
cp "$vboard" tree/bin/vboard
printf '5=LEFT\n' >tree/share/vboard/line-names.d/a
printf '6=RIGHT,5=LEFT2\n' >tree/share/vboard/line-names.d/b
tree/bin/vboard run --no-sleep --report packaged.html -- "$ending" return >/dev/null
grep -q '"names":\[\[5,"LEFT2"\],\[6,"RIGHT"\]\]' packaged.html ||
    failed "packaged names: $(grep -o '"names":[^]]*]*' packaged.html)"
printf 'nonsense\n' >tree/share/vboard/line-names.d/c
tree/bin/vboard run -- true 2>err.txt
status=$?
[ "$status" = 2 ] || failed "a bad names file: status $status"
grep -q 'line-names.d/c: not a list of LINE=NAME' err.txt || failed "a bad names file: $(cat err.txt)"

# Each way to end: STATUS, what stderr must say, the last call logged, the last VCD change line.
# The crashes come in the middle of a link byte: the log and the VCD must end on its last edge.
while IFS='|' read -r how options want_status want_err want_call want_change; do
    rm -f run.vcd run.log
    # shellcheck disable=SC2086
    "$vboard" run $options --vcd run.vcd --log run.log -- "$ending" "$how" >/dev/null 2>err.txt
    status=$?
    err=$(cat err.txt)
    [ "$status" = "$want_status" ] || failed "$how: status $status, expected $want_status ($err)"
    [[ "$err" == *"$want_err"* ]] || failed "$how: stderr '$err' lacks '$want_err'"
    last_call=$(tail -n 1 run.log | sed 's/^ *[0-9]* ns  //')
    [ "$last_call" = "$want_call" ] || failed "$how: last call logged '$last_call'"
    last_change=$(grep -v '^#' run.vcd | tail -n 1)
    [ "$last_change" = "$want_change" ] || failed "$how: last VCD change '$last_change'"
    tail -n 1 run.vcd | grep -q '^#[0-9]*$' || failed "$how: VCD does not end on a time stamp"
done <<'CASES'
return|--no-sleep|7||digitalWrite(11, 1)|1,
exit|--no-sleep|8||digitalWrite(11, 1)|1,
segv|--no-sleep|139|signal 11 (SIGSEGV|digitalWrite(11, 1)|1,
abort|--no-sleep|134|signal 6 (SIGABRT|digitalWrite(11, 1)|1,
poll|--no-sleep --timeout 50ms|124|vboard: simulated time limit of 50 ms reached in delay(1); the program was polling BCM 24 with digitalRead, high since|delay(1)|0,
CASES
[ "$(tail -n 1 run.vcd)" = "#50000000" ] || failed "timeout: VCD ends at $(tail -n 1 run.vcd)"

# SIGTERM sent to vboard alone reaches the program, whose files are complete; vboard reports it.
"$vboard" run --log term.log -- "$ending" poll >/dev/null 2>term.err &
runner=$!
sleep 0.5
kill -TERM "$runner"
wait "$runner"
status=$?
[ "$status" = 143 ] || failed "SIGTERM: status $status"
grep -q 'ended by signal 15 (SIGTERM' term.err || failed "SIGTERM: stderr '$(cat term.err)'"
[ "$(tail -n 1 term.log | sed 's/^ *[0-9]* ns  //')" = 'delay(1)' ] ||
    failed "SIGTERM: log ends '$(tail -n 1 term.log)'"

# A refused board file: one line naming file, line and key; status 3; the program never starts.
printf '[board]\nreal_sleep = "yes"\n' >bad.toml
err=$("$vboard" run --board bad.toml -- touch started 2>&1 >/dev/null)
status=$?
[ "$status" = 3 ] || failed "bad board file: status $status"
[ "$err" = 'vboard: bad.toml:2: board.real_sleep: expected true or false' ] ||
    failed "bad board file: stderr '$err'"
[ ! -e started ] || failed "bad board file: the program ran"

# Command-line errors and programs that cannot run.
"$vboard" run --timeout 50 -- true 2>/dev/null; [ $? = 2 ] || failed "--timeout without unit"
"$vboard" run --line-names 24=BUSY,99=X -- true 2>/dev/null; [ $? = 2 ] || failed "--line-names 99"
"$vboard" run -- ./no-such-program 2>/dev/null; [ $? = 127 ] || failed "missing program"
"$vboard" --help | grep '^  124 ' >/dev/null || failed "--help lists no timeout status"
[ "$("$vboard" --version)" = "vboard (devconfig) 1.1.0" ] || failed "vboard --version"

# Without vboard: the same variables and the drop-in on the library path give the same files.
rm -f env.log
VBOARD_LOG=env.log VBOARD_NO_SLEEP=1 LD_LIBRARY_PATH="$dropin" "$ending" return >/dev/null
[ "$(tail -n 1 env.log | sed 's/^ *[0-9]* ns  //')" = 'digitalWrite(11, 1)' ] ||
    failed "environment alone: log ends '$(tail -n 1 env.log)'"
exit $fail

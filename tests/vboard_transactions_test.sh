#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# vboard run's transactions end to end: the example driver against its committed golden file, a
# driver changed by one byte against the same file, --update, a malformed golden file, the example
# board's timing checks made strict, and the JSON Lines output.
# Usage: vboard_transactions_test.sh VBOARD BUSY_DEVICE BUSY_CHANGED BUSY_TOML GOLDEN WORKDIR
set -uo pipefail
vboard=$1 busy_device=$2 busy_changed=$3 busy_toml=$4 golden=$5 work=$6
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
fail=0
failed() { echo "FAILED: $*"; fail=1; }
run() { "$vboard" run --board "$busy_toml" "$@" >out.txt 2>err.txt; }

# The example passes against its golden file, and its own table matches the file's bytes.
run --expect "$golden" --transactions run.txt -- "$busy_device"
status=$?
[ "$status" = 0 ] || failed "golden run: status $status: $(cat err.txt)"
grep -q 'link  BCM8   dc=0 > 12 dc=1 a5 3c$' run.txt || failed "golden run: table is $(cat run.txt)"

# One byte changed in the driver: status 4, and the first differing transaction shown both ways.
run --expect "$golden" -- "$busy_changed"
status=$?
err=$(cat err.txt)
[ "$status" = 4 ] || failed "changed driver: status $status, expected 4"
[[ "$err" == *"the transactions differ from $golden"* ]] || failed "changed driver: '$err'"
grep -q '^  expected      1 .* > 12 dc=1 a5 3c$' err.txt || failed "changed driver: no expected line: $err"
grep -q '^  got           1 .* > 12 dc=1 a5 3d$' err.txt || failed "changed driver: no got line: $err"
grep -q '^  same          0 ' err.txt || failed "changed driver: no context line: $err"

# --update writes the table; the next run passes against it, and times can be compared too.
(umask 022 && run --expect updated.txt --update -- "$busy_changed")
[ $? = 0 ] && [ -s updated.txt ] || failed "--update: status or file missing: $(cat err.txt)"
# A golden file is shared: a new one gets the umask's mode, one replaced keeps its own.
[ "$(stat -c %a updated.txt)" = 644 ] || failed "--update made mode $(stat -c %a updated.txt)"
cp updated.txt kept.txt && chmod 664 kept.txt
run --expect kept.txt --update -- "$busy_changed"
[ "$(stat -c %a kept.txt)" = 664 ] || failed "--update changed the mode to $(stat -c %a kept.txt)"
run --expect updated.txt --compare-times 0ns -- "$busy_changed"
[ $? = 0 ] || failed "run against its own update: $(cat err.txt)"
sed 's/5\.002980ms/5.003980ms/' updated.txt >moved.txt
run --expect moved.txt --compare-times 10ns -- "$busy_changed"
[ $? = 4 ] && grep -q 'times differ by more than 10 ns' err.txt || failed "moved times: $(cat err.txt)"
run --expect moved.txt -- "$busy_changed"
[ $? = 0 ] || failed "times compared without --compare-times"

# A malformed golden file: status 3 before the program runs, with file, line and what was expected.
printf '# header\n0 1ms 2ms link BCM8 > 1g\n' >bad.txt
"$vboard" run --expect bad.txt -- touch started 2>err.txt
status=$?
[ "$status" = 3 ] || failed "bad golden file: status $status"
grep -qx 'vboard: bad.txt:2: expected a byte in two lower-case hex digits, as a5, or a partial byte, as 05/3b' err.txt ||
    failed "bad golden file: '$(cat err.txt)'"
[ ! -e started ] || failed "bad golden file: the program ran"

# The example's timing made strict: a 10 MHz clock and 10 ms from enable to the first command.
sed 's/^max_hz = .*/max_hz = 10000000/; s/^min = "1ms"/min = "10ms"/' "$busy_toml" >strict.toml
"$vboard" run --board strict.toml --transactions strict.txt -- "$busy_device" >/dev/null 2>err.txt
status=$?
[ "$status" = 5 ] || failed "timing violations: status $status, expected 5"
grep -q '^vboard: timing violation at .*: link clock rate: 16.666 MHz, above the maximum of 10 MHz$' err.txt ||
    failed "timing violations: no clock-rate line: $(head -3 err.txt)"
grep -q '^vboard: enable before the first command: 1 timing violation in all$' err.txt ||
    failed "timing violations: no gap summary: $(tail -3 err.txt)"
grep -q '^! .*enable before the first command: ' strict.txt || failed "no violation in the table"
"$vboard" run --board strict.toml --timing-warnings -- "$busy_device" >/dev/null 2>&1
[ $? = 0 ] || failed "--timing-warnings still fails the run"

# JSON Lines: one object per line, each transaction with its bytes; valid JSON where python3 is.
run --transactions run.jsonl --format jsonl -- "$busy_device"
grep -q '^{"type":"transaction","index":1,"bus":"link","select":8,.*"dir":"out","value":18,"bits":8,"side":{"dc":0}}' run.jsonl ||
    failed "jsonl: $(head -2 run.jsonl)"
tail -n 1 run.jsonl | grep -q '^{"type":"end",' || failed "jsonl does not end with its end object"
if command -v python3 >/dev/null; then
    python3 -c 'import json, sys; [json.loads(line) for line in open(sys.argv[1])]' run.jsonl ||
        failed "jsonl is not JSON"
fi
"$vboard" run --format jsonl -- true 2>/dev/null; [ $? = 2 ] || failed "--format without --transactions"
"$vboard" run --update -- true 2>/dev/null; [ $? = 2 ] || failed "--update without --expect"
# The program's own words are not vboard's options.
[ "$("$vboard" run -- echo --format jsonl 2>&1)" = '--format jsonl' ] || failed "a program's --format was taken"
exit $fail

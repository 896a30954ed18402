#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# vboard run --junit: the file of a passing, a timed-out, a crashed and a differing run validates
# against the JUnit layout (tests/junit.xsd, with xmllint) and reads, as a CI dashboard reads it,
# with the testcase's name and classname and the failure's message saying why.
# Usage: junit_test.sh VBOARD XSD SENSOR_TOML SENSOR_DRIVER GOLDEN ENDING WORKDIR
set -uo pipefail
vboard=$1 xsd=$2 sensor_toml=$3 sensor_driver=$4 golden=$5 ending=$6 work=$7
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
fail=0
failed() { echo "FAILED: $*"; fail=1; }
if ! command -v xmllint >/dev/null; then
    echo "xmllint is not installed (apt-get install libxml2-utils)"
    exit 77
fi

# What a dashboard reads: testcase name|classname|failure message (empty: passed)|system-out
read_case() {
    python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
case = root.find("testsuite/testcase")
failure = case.find("failure")
out = case.find("system-out")
print("|".join([case.get("name"), case.get("classname"),
                failure.get("message") if failure is not None else "",
                (out.text or "").replace("\n", " ").strip() if out is not None else ""]))
PY
}

head -n -3 "$golden" > changed.transactions  # the last transactions are missing: a difference

# name|vboard options|program and arguments|status|message contains
while IFS='|' read -r name options program status want; do
    # shellcheck disable=SC2086
    "$vboard" run $options --junit "$name.xml" -- $program >/dev/null 2>&1
    got=$?
    [ "$got" = "$status" ] || failed "$name: status $got, expected $status"
    xmllint --noout --schema "$xsd" "$name.xml" 2>err.txt || failed "$name: $(cat err.txt)"
    IFS='|' read -r case_name classname message out <<<"$(read_case "$name.xml")"
    [ "$classname" = vboard ] || failed "$name: classname '$classname'"
    [[ "$message" == *"$want"* ]] || failed "$name: failure message '$message' lacks '$want'"
    [ -n "$want" ] || [ -z "$message" ] || failed "$name: passed, yet failed with '$message'"
    echo "$name: $case_name: ${message:-passed}${out:+; out: $out}"
done <<CASES
passing|--board $sensor_toml|$sensor_driver|0|
timeout|--timeout 5ms --no-sleep|$ending poll|124|simulated time limit of 5 ms reached
crash|--no-sleep|$ending segv|139|ended by signal 11 (SIGSEGV)
differs|--board $sensor_toml --expect changed.transactions|$sensor_driver|4|transactions differ at transaction 5
named|--name <&>"' --no-sleep|$ending other|7|exited with status 7
CASES

grep -q 'testcase name="sensor_driver"' passing.xml || failed "passing: the program's name"
grep -q 'name="simulated_seconds" value="0.010' passing.xml || failed "passing: simulated time"
grep -q 'testcase name="&lt;&amp;&gt;&quot;'"'"'"' named.xml || failed "named: escaping"
grep -q '<failure[^>]*>the transactions differ from' differs.xml || failed "differs: no detail"
exit $fail

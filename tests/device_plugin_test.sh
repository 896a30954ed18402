#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Device models loaded from shared objects, end to end under vboard run: the example sensor and its
# driver against their golden file, a plug-in that cannot be used refused before the program runs,
# and a plug-in that crashes ending the run as any crash does, with the outputs written.
# Usage: device_plugin_test.sh VBOARD SENSOR_TOML SENSOR_DRIVER GOLDEN PROBE OTHER_ABI DEVCFG WORKDIR
set -uo pipefail
vboard=$1 sensor_toml=$2 sensor_driver=$3 golden=$4 probe=$5 other_abi=$6 devcfg=$7 work=$8
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
fail=0
failed() { echo "FAILED: $*"; fail=1; }

# The sensor's timer raises and lowers its data-ready line; the driver waits for it each time.
out=$("$vboard" run --board "$sensor_toml" --expect "$golden" --log sensor.log --timeout 1s \
    -- "$sensor_driver")
status=$?
[ "$status" = 0 ] || failed "sensor: status $status"
[[ "$out" == *"result 2: 0x0120"* ]] || failed "sensor printed '$out'"
[ "$(grep -c 'sensor: conversion done' sensor.log)" = 3 ] || failed "sensor: three conversions"

# A plug-in the board cannot use, or one that crashes while its device is made: status 3, one line
# naming file, line and key, nothing run.
probe_file() {  # PATH PARAMS
    printf '[[device]]\nmodel = "plugin"\npath = "%s"\nbus = "link"\nselect = 8\n' "$1"
    printf 'lines = { in = 20, out = 21 }\nparams = { %s }\n' "$2"
}
while IFS='|' read -r name path params want; do
    probe_file "$path" "$params" > "$name.toml"
    rm -f ran
    "$vboard" run --board "$name.toml" -- touch ran >/dev/null 2>err.txt
    status=$?
    [ "$status" = 3 ] || failed "$name: status $status"
    [ "$(wc -l < err.txt)" = 1 ] || failed "$name: stderr '$(cat err.txt)'"
    grep -qF "$want" err.txt || failed "$name: stderr '$(cat err.txt)' lacks '$want'"
    [ ! -e ran ] || failed "$name: the program ran"
done <<EOF_CASES
missing|$work/no-such-model.so|delay = "1ms"|missing.toml:3: device[0].path: expected a device model library that loads
abi|$other_abi|delay = "1ms"|device[0].path: expected a model of device ABI version 1 (it is built for version 99)
params|$probe|delay = "5s"|.toml:7: device[0].params.delay: expected a delay of at most 1s
create|$probe|delay = "1ms", crash = true|create.toml:3: device[0].path: expected a device model library whose create() returns ($probe crashed making the device:
EOF_CASES

# A model that crashes in a byte callback: the program ends with SIGSEGV, the files written.
probe_file "$probe" 'delay = "1ms"' > crash.toml
"$vboard" run --board crash.toml --transactions crash.txt --log crash.log \
    -- "$devcfg" open send 12 de 34 >/dev/null 2>err.txt
status=$?
[ "$status" = 139 ] || failed "crash: status $status ($(cat err.txt))"
grep -q 'signal 11 (SIGSEGV' err.txt || failed "crash: stderr '$(cat err.txt)'"
grep -q '> 12' crash.txt || failed "crash: transactions '$(cat crash.txt)'"
grep -q 'digitalWrite(11, 1)' crash.log || failed "crash: log ends short"

exit $fail

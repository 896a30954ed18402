#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# devcfg's exit statuses: every malformed command line gets one line on standard error, status 2,
# nothing on standard output and no step run; a failed open exits 1; a good session exits 0.
# Usage: devcfg_cli_test.sh DEVCFG
set -uo pipefail
devcfg=$1
# RUN_EMULATOR (qemu-arm and its options, say) runs a cross-built devcfg.
run_devcfg() { ${RUN_EMULATOR:-} "$devcfg" "$@"; }
fail=0

expect() {  # expect STATUS WORD -- ARGS...
    local want=$1 word=$2
    shift 3
    local out err status
    out=$(run_devcfg "$@" 2>/tmp/devcfg_err.$$)
    status=$?
    err=$(cat /tmp/devcfg_err.$$)
    if [ "$status" != "$want" ]; then
        echo "FAILED: devcfg $*: status $status, expected $want"; fail=1; return
    fi
    if [ "$want" = 2 ]; then
        if [ -n "$out" ]; then echo "FAILED: devcfg $*: printed '$out'"; fail=1; fi
        if [ "$(printf '%s\n' "$err" | wc -l)" != 1 ] || [[ "$err" != *"$word"* ]]; then
            echo "FAILED: devcfg $*: stderr '$err' should be one line naming '$word'"; fail=1
        fi
    fi
}

expect 2 "'blink'" -- open blink 5
expect 2 "'54'" -- open write 54 1
expect 2 "'2'" -- open write 5 2
expect 2 "'sideways'" -- open mode 5 sideways
expect 2 "'zz'" -- open send a5 zz
expect 2 "'0x123'" -- open send 0x123
expect 2 "'x'" -- open spi-open m 1000000 spi x a5
expect 2 "'spi m' with no 'spi-open m'" -- open spi m 01
expect 2 "'send'" -- open send
expect 2 "'--bogus'" -- --bogus open
expect 2 "'g1'" -- --link-reply g1 open
expect 2 "'0'" -- open spi-open m 0
expect 2 "'65536'" -- open delay-us 65536
expect 2 "'recv'" -- open recv 0x
expect 2 "step" --
expect 2 "/nonexistent-dir/x.vcd" -- --vcd /nonexistent-dir/x.vcd open
expect 2 "--report: cannot write '/nonexistent-dir/r.html'" -- --report /nonexistent-dir/r.html open
expect 1 "" -- --setup-fail open write 5 1
expect 0 "" -- --no-sleep open mode 5 out write 5 1 read 5 delay-ms 1 delay-us 3 close
expect 0 "" -- --help
[ "$(run_devcfg --version)" = "devcfg (devconfig) 1.1.0" ] || { echo "FAILED: devcfg --version"; fail=1; }

# --report: the page says how the steps ended and names the layer's lines.
page=/tmp/devcfg_report.$$.html
run_devcfg --no-sleep --setup-fail --report "$page" open write 5 1 >/dev/null 2>&1
grep -q '"a step failed; the run stopped there"' "$page" || { echo "FAILED: --report: no ending"; fail=1; }
grep -q '\[18,"DEV_EN_PIN"\]' "$page" || { echo "FAILED: --report: BCM 18 not named"; fail=1; }
rm -f "$page"

# A bad word late in the line stops it before the first step: no report line from open.
out=$(run_devcfg open write 5 1 write 5 9 2>/dev/null)
if [ -n "$out" ]; then echo "FAILED: a bad command line still ran: '$out'"; fail=1; fi

out=$(run_devcfg --no-sleep open mode 5 out write 5 1 read 5)
if ! grep -qx 'read 5 = 1' <<<"$out"; then echo "FAILED: read after write printed '$out'"; fail=1; fi

# spi after open with no alt0 puts nothing on the wire: said on standard error when it runs.
run_devcfg --no-sleep open spi-open m 1000000 spi m 01 alt0 spi m 02 close >/dev/null 2>/tmp/devcfg_err.$$
if [ "$(grep -c "^devcfg: spi m: BCM 11, 10, 8 and 7 are GPIO outputs since 'open'" /tmp/devcfg_err.$$)" != 1 ]; then
    echo "FAILED: spi without alt0: stderr '$(cat /tmp/devcfg_err.$$)'"; fail=1
fi

# readall: the header after open (EN high, the pin map's outputs low) and after close (EN low).
out=$(run_devcfg --no-sleep open readall close readall 2>/dev/null)
en=$(grep -o '| [01] | OUT  | DEV_EN    |  18 |' <<<"$out" | cut -c3)
if [ "$(echo $en)" != "1 0" ]; then echo "FAILED: readall shows EN as '$en'"; fail=1; fi
if ! grep -q '|  11 | DEV_SCLK  |  OUT | 0 | 23 || 24 | 0 | OUT  | DEV_CS_M  |   8 |' <<<"$out"; then
    echo "FAILED: readall after open: $out"; fail=1
fi
expect 2 "'readall' with no 'open'" -- readall

for step in open close mode write read send recv spi-open spi alt0 delay-ms delay-us readall; do
    if ! run_devcfg --help | grep "^  $step" >/dev/null; then echo "FAILED: --help does not list $step"; fail=1; fi
done
rm -f /tmp/devcfg_err.$$
[ $fail = 0 ] && echo "all devcfg command-line checks passed"
exit $fail

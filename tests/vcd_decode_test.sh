#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Records a mixed session (bytes sent and received over the three-wire link, framed by BCM 7, and
# a hardware SPI write on channel 0 with the lines in ALT0) to a VCD file, decodes it with
# sigrok-cli's SPI decoder and checks the decoded bytes against the bytes that moved.
# Usage: vcd_decode_test.sh DEVCFG WORKDIR
set -euo pipefail
devcfg=$1
# RUN_EMULATOR (qemu-arm and its options, say) runs a cross-built devcfg.
run_devcfg() { ${RUN_EMULATOR:-} "$devcfg" "$@"; }
work=$2
if ! command -v sigrok-cli >/dev/null 2>&1; then
    echo "SKIP: sigrok-cli is not installed (apt-get install sigrok-cli)"
    exit 77
fi
mkdir -p "$work"
vcd="$work/session.vcd"

out=$(run_devcfg --link-reply 5a,c3 --spi-m-reply 11,22,33,44 --vcd "$vcd" \
    open write 8 1 write 7 1 \
    write 7 0 send a5 3c recv 2 write 7 1 \
    spi-open m 1000000 alt0 spi m de ad be ef close)
grep -qx 'recv = 5a c3' <<<"$out"
grep -qx 'spi m = 11 22 33 44' <<<"$out"

decode() {  # decode CS ANNOTATION [MISO]
    local opts="clk=bcm11_sclk:mosi=bcm10_mosi:miso=bcm9_miso:cs=$1:cpol=0:cpha=0:bitorder=msb-first:wordsize=8"
    sigrok-cli -I vcd -i "$vcd" -P "spi:$opts" -A "spi=$2" | sed 's/^spi-1: //' | tr 'A-F\n' 'a-f ' | sed 's/ $//'
}
fail=0
check() {  # check WHAT GOT EXPECTED
    if [ "$2" = "$3" ]; then
        echo "ok: $1: $2"
    else
        echo "FAILED: $1: decoded '$2', expected '$3'"
        fail=1
    fi
}
check "link (BCM 11/10, framed by BCM 7)" "$(decode bcm7_ce1 mosi-data)" "a5 3c 5a c3"
check "SPI0 channel 0 MOSI" "$(decode bcm8_ce0 mosi-data)" "de ad be ef"
check "SPI0 channel 0 MISO" "$(decode bcm8_ce0 miso-data)" "11 22 33 44"
exit $fail

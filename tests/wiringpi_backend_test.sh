#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Proves the real-wiringPi path without a Pi: installs the virtual board as a drop-in
# libwiringPi.so with its two headers under a scratch prefix, configures a separate build with the
# backend forced to WIRINGPI and pointed at that prefix, builds it, and checks that the layer names
# libwiringPi.so as its dependency (and not the virtual board) and that the demo runs.
# With TOOLCHAIN set it does the same as a cross build, with the README's command, against a prefix
# outside the cross compiler's sysroot, and runs the results through RUN_EMULATOR.
# Usage: [TOOLCHAIN=FILE RUN_EMULATOR=...] wiringpi_backend_test.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
source_dir=$1
build=$2
work=$3
toolchain_args=()
if [ -n "${TOOLCHAIN:-}" ]; then
    toolchain_args=(--toolchain "$TOOLCHAIN")
fi
run() { ${RUN_EMULATOR:-} "$@"; }
rm -rf "$work"
prefix="$work/wiringpi"
cmake --install "$build" --component wiringpi_dropin --prefix "$prefix" >/dev/null
test -f "$prefix/include/wiringPi.h" && test -f "$prefix/include/wiringPiSPI.h"

cmake -S "$source_dir" -B "$work/build" -G Ninja "${toolchain_args[@]}" -DDEVCONFIG_BACKEND=WIRINGPI \
    -DWIRINGPI_ROOT="$prefix" -DDEVCONFIG_BUILD_TESTS=OFF >"$work/configure.log"
grep -q "wiringPi backend is WIRINGPI" "$work/configure.log"
cmake --build "$work/build" >/dev/null

needed=$(readelf -d "$work/build/src/libdevconfig.so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "libdevconfig.so needs: $(echo $needed)"
grep -qx 'libwiringPi.so' <<<"$needed"
if grep -q virtualboard <<<"$needed"; then
    echo "FAILED: the layer still links the virtual board" >&2
    exit 1
fi
test ! -e "$work/build/virtualboard"  # not even built

out=$(run "$work/build/demo/devconfig-demo")
echo "$out" | head -3
grep -q 'set wiringPi lib success' <<<"$out"
grep -q 'DEV_EN_PIN     BCM 18 reads 1' <<<"$out"
run "$work/build/tools/devcfg" open read 18 close | grep -qx 'read 18 = 1'
if run "$work/build/tools/devcfg" --vcd x.vcd open 2>"$work/err"; then
    echo "FAILED: a virtual-board option was accepted on the real wiringPi" >&2
    exit 1
fi
grep -q 'needs the virtual board' "$work/err"
echo "the WIRINGPI backend builds, links libwiringPi.so and runs"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# An outside driver project registers bench runs with vboard_add_test and CTest runs them: one that
# passes against its golden file, one meant to fail (WILL_FAIL), and a program calling wiringPi
# itself. Against an install of the build tree (PREFIX given), or the installed packages (none).
# An option vboard_add_test does not know stops the configuration, naming it.
# Usage: bench_consumer_test.sh WORK_DIR [BUILD_DIR]
set -euo pipefail
work=$1
build=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAILED: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
prefix_args=()
if [ -n "$build" ]; then
    cmake --install "$build" --prefix "$work/prefix" >/dev/null
    prefix_args=(-DCMAKE_PREFIX_PATH="$work/prefix")
fi

cmake -S "$here/bench_consumer" -B "$work/build" -G Ninja "${prefix_args[@]}" >/dev/null
cmake --build "$work/build" >/dev/null
(cd "$work/build" && ctest --output-on-failure --output-junit ctest.xml) || fail "ctest"
[ "$(cd "$work/build" && ctest -N -L vboard | grep -c 'Test *#')" = 3 ] ||
    fail "the tests are not labelled vboard"
out="$work/build/vboard/identify.answers"
for file in run.vcd run.log report.html junit.xml; do
    [ -s "$out/$file" ] || fail "identify.answers left no $file"
done
grep -q '<failure' "$work/build/vboard/identify.wrong_identity/junit.xml" ||
    fail "the failing run's JUnit file has no failure"
grep -q 'ATTACHED_FILES_ON_FAIL' "$work/build/CTestTestfile.cmake" ||
    fail "no files attached on failure"

# An unknown option, refused when the project is configured.
mkdir -p "$work/bad"
cat > "$work/bad/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(bad LANGUAGES C)
find_package(vboard REQUIRED)
vboard_add_test(NAME x COMMAND x BORD board.toml)
CMAKE
if cmake -S "$work/bad" -B "$work/bad/build" "${prefix_args[@]}" >"$work/bad.log" 2>&1; then
    fail "an unknown option was accepted"
fi
grep -q 'unknown option(s): BORD' "$work/bad.log" || fail "the refusal does not name the option"

# The board's wiringPi through pkg-config.
if [ -n "$build" ]; then
    export PKG_CONFIG_PATH
    PKG_CONFIG_PATH=$(dirname "$(find "$work/prefix" -name vboard-wiringpi.pc)")
fi
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/direct" "$here/bench_consumer/direct.c" \
    $(pkg-config --cflags --libs vboard-wiringpi) \
    ${build:+-Wl,-rpath,$(dirname "$PKG_CONFIG_PATH")}
"$work/direct" || fail "the pkg-config build of direct"
echo "the outside project's bench tests run under CTest"

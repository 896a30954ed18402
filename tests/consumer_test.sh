#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build into a scratch prefix and builds two small consumer programs, one in C and
# one in C++, against it: once through find_package and once through pkg-config. Runs all four.
# Usage: consumer_test.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

echo "== find_package"
cmake -S "$here/consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer_c"
"$work/cmake-build/consumer_cpp"

echo "== pkg-config"
if ! command -v pkg-config >/dev/null; then
    echo "pkg-config is not installed (apt-get install pkgconf)" >&2
    exit 1
fi
libdir=$(dirname "$(find "$prefix" -name devconfig.pc)")
export PKG_CONFIG_PATH="$libdir"
rpath="-Wl,-rpath,$(dirname "$libdir")"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/pc_consumer_c" "$here/consumer/consumer.c" \
    $(pkg-config --cflags --libs devconfig) "$rpath"
# shellcheck disable=SC2046
c++ -std=c++20 -Wall -Wextra -Werror -o "$work/pc_consumer_cpp" "$here/consumer/consumer.cpp" \
    $(pkg-config --cflags --libs devconfig vboard) "$rpath"
"$work/pc_consumer_c"
"$work/pc_consumer_cpp"

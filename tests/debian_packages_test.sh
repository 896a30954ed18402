#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages with the distribution's own tools and checks them:
#   - the source and amd64 packages with dpkg-buildpackage (tests included), the armhf and arm64
#     packages cross-built (tests left to the qemu suites), and the Pi's build over an installed wiringPi
#     (build profile pkg.devconfig.wiringpi, here against the drop-in in a scratch prefix);
#   - lintian: no error and no warning on any of them;
#   - a library export that its symbols file does not list fails the build;
#   - as root: the amd64 packages install, serve a C and a C++ consumer from /usr through
#     pkg-config and find_package, run devcfg and vboard from /usr/bin, and purge without a trace.
# Usage: debian_packages_test.sh WORK_DIR   (run from the source tree)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mkdir -p "$1" && cd "$1" && pwd)
here="$source_dir/tests"
fail() { echo "FAILED: $*" >&2; exit 1; }
# The package build's own suite has no browser driver (it comes from npm, outside the source
# package), so there the report's browser test skips, whatever CI asks of the main suite.
unset VBOARD_REQUIRE_BROWSER

# A copy of the tree to build in: dpkg-buildpackage works in place and writes its results beside.
fresh_tree() {  # fresh_tree DIR
    rm -rf "$1"
    mkdir -p "$1/src"
    (cd "$source_dir" && git ls-files -co --exclude-standard | grep -v '^build/' |
        while read -r f; do [ -e "$f" ] && printf '%s\n' "$f"; done | tar -cf - -T -) |
        tar -xf - -C "$1/src"
}

build_packages() {  # build_packages NAME DPKG-BUILDPACKAGE-ARGS...
    local name=$1
    shift
    fresh_tree "$work/$name"
    echo "== dpkg-buildpackage $* ($name)"
    if ! (cd "$work/$name/src" && dpkg-buildpackage -us -uc "$@") >"$work/$name/build.log" 2>&1; then
        tail -n 30 "$work/$name/build.log"
        fail "dpkg-buildpackage $* did not build"
    fi
    ls "$work/$name"/*.deb | xargs -n1 basename
}

check_lintian() {  # check_lintian NAME
    echo "== lintian ($1)"
    lintian --fail-on error,warning --info --display-experimental "$work/$1"/*.changes ||
        fail "lintian reports errors or warnings on $1"
}

build_packages amd64
check_lintian amd64
# A cross build's packages: lintian-clean, of their architecture, the library in its multiarch
# directory.
check_cross() {  # check_cross ARCH TRIPLET
    local unchecked=()
    # .ci/run installs only the target's libpng runtime when libpng-dev of that architecture
    # cannot be installed (a mirror mid-sync): the build then runs without dpkg's check of the
    # build dependencies.
    if ! dpkg -s "libpng-dev:$1" >/dev/null 2>&1 && dpkg -s "libpng16-16:$1" >/dev/null 2>&1; then
        echo "libpng-dev:$1 is not installed: building against libpng16-16:$1, build dependencies unchecked"
        unchecked=(-d)
    fi
    build_packages "$1" -b -a"$1" -Pcross,nocheck "${unchecked[@]}"
    check_lintian "$1"
    for deb in "$work/$1"/*.deb; do
        [ "$(dpkg-deb -f "$deb" Architecture)" = "$1" ] || fail "$deb is not $1"
    done
    dpkg-deb -c "$work/$1/libdevconfig1_"*_"$1".deb | awk '{print $6}' |
        grep -qx "./usr/lib/$2/libdevconfig.so.1" ||
        fail "the $1 library is not in the multiarch directory"
}
check_cross armhf arm-linux-gnueabihf
check_cross arm64 aarch64-linux-gnu

echo "== the Pi's build, over an installed wiringPi"
prefix="$work/wiringpi-prefix"
rm -rf "$work/dropin-build" "$prefix"
cmake -S "$source_dir" -B "$work/dropin-build" -G Ninja -DDEVCONFIG_BACKEND=VIRTUAL \
    -DDEVCONFIG_BUILD_TESTS=OFF -DDEVCONFIG_BUILD_DEMO=OFF -DDEVCONFIG_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$work/dropin-build" --target virtualboard_wiringpi >/dev/null
cmake --install "$work/dropin-build" --component wiringpi_dropin --prefix "$prefix" >/dev/null
DEVCONFIG_WIRINGPI_ROOT="$prefix" build_packages wiringpi -b -d -Ppkg.devconfig.wiringpi,nocheck
ls "$work/wiringpi"/*.deb | grep -q virtualboard && fail "the wiringPi build packaged the virtual board"
depends=$(dpkg-deb -f "$work/wiringpi/libdevconfig1_"*.deb Depends)
echo "libdevconfig1 over wiringPi depends on: $depends"
grep -qw wiringpi <<<"$depends" || fail "libdevconfig1 over wiringPi depends on '$depends'"

echo "== an export missing from the symbols file fails the build"
fresh_tree "$work/symbols"
sed -i '/DEV_Delay_us@Base/d' "$work/symbols/src/debian/libdevconfig1.symbols"
if (cd "$work/symbols/src" && dpkg-buildpackage -us -uc -b -Pnocheck) >"$work/symbols/build.log" 2>&1; then
    fail "a library with an unlisted export still built"
fi
grep -q '^+ DEV_Delay_us@Base' "$work/symbols/build.log" ||
    fail "the failed build does not name the new export"

if [ "$(id -u)" != 0 ]; then
    echo "not root: the install and purge check is left to CI"
    exit 0
fi

echo "== install the amd64 packages"
mapfile -t debs < <(ls "$work/amd64"/*.deb)
mapfile -t names < <(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done)
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${debs[@]}" >"$work/install.log"
for name in "${names[@]}"; do dpkg-query -W -f='${Status}\n' "$name" | grep -q 'install ok installed'; done

echo "== consumers built against /usr"
consumer="$work/consumer"
rm -rf "$consumer"
mkdir -p "$consumer"
cmake -S "$here/consumer" -B "$consumer/cmake-build" -G Ninja >/dev/null
cmake --build "$consumer/cmake-build" >/dev/null
"$consumer/cmake-build/consumer_c"
"$consumer/cmake-build/consumer_cpp"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$consumer/pc_c" "$here/consumer/consumer.c" \
    $(pkg-config --cflags --libs devconfig)
# shellcheck disable=SC2046
c++ -std=c++20 -Wall -Wextra -Werror -o "$consumer/pc_cpp" "$here/consumer/consumer.cpp" \
    $(pkg-config --cflags --libs devconfig vboard)
"$consumer/pc_c"
"$consumer/pc_cpp"
loaded=$(ldd "$consumer/pc_c")
grep -q "=> \(/usr\)\?/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libdevconfig.so.1 " <<<"$loaded" ||
    fail "the consumer does not load the packaged library"
out=$(/usr/bin/devcfg --no-sleep open read 18 close)
grep -qx "read 18 = 1" <<<"$out" || fail "the packaged devcfg printed '$out'"
/usr/bin/vboard run --no-sleep -- "$consumer/pc_c" >/dev/null || fail "the packaged vboard"
/usr/bin/vboard-record -o "$work/installed.trace" -- /usr/bin/vboard run --no-sleep -- \
    "$consumer/pc_c" >/dev/null || fail "the packaged vboard-record"
grep -q "wiringPiSetupGpio() = 0" "$work/installed.trace" || fail "the packaged recorder's trace"
/usr/bin/vboard replay "$work/installed.trace" >/dev/null || fail "the packaged vboard replay"
man -w devcfg vboard vboard-board vboard-record >/dev/null || fail "the manual pages are not found"
bash "$here/bench_consumer_test.sh" "$work/bench_consumer" ||
    fail "an outside project's bench tests against the installed packages"

echo "== purge"
mapfile -t files < <(for deb in "${debs[@]}"; do dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||'; done |
    grep -v '/$' | sort -u)
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${names[@]}" >"$work/purge.log"
for name in "${names[@]}"; do
    if dpkg-query -W -f='${Status}\n' "$name" 2>/dev/null | grep -qv 'not-installed'; then
        fail "$name is still known to dpkg after the purge"
    fi
done
for file in "${files[@]}"; do
    if [ -e "$file" ] || [ -L "$file" ]; then fail "$file is left after the purge"; fi
done
echo "the packages build, pass lintian, install, serve their consumers from /usr and purge cleanly"

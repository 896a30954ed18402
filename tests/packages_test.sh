#!/usr/bin/env bash
# Makes the Debian packages of a build with cpack, checks each one's name, architecture,
# dependencies and contents, then unpacks them all into a scratch root and runs the packaged devcfg
# from there. Usage: packages_test.sh BUILD_DIR WORK_DIR ARCH [EMULATOR...]
set -euo pipefail
build=$1
work=$2
arch=$3
shift 3
emulator=("$@")
rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")/\1/p' "$build/CPackConfig.cmake")
fail=0

check() {  # check PACKAGE DEPENDS-PATTERN FILE...
    local package=$1 depends=$2 deb
    shift 2
    deb="$work/out/${package}_${version}_${arch}.deb"
    if [ ! -f "$deb" ]; then
        echo "FAILED: no $deb"; fail=1; return
    fi
    local contents
    contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || { echo "FAILED: $package is not $arch"; fail=1; }
    if ! dpkg-deb -f "$deb" Depends | grep -qE "$depends"; then
        echo "FAILED: $package depends on '$(dpkg-deb -f "$deb" Depends)', expected $depends"; fail=1
    fi
    for file in "$@"; do
        grep -qx "./usr/$file" <<<"$contents" || { echo "FAILED: $package lacks /usr/$file"; fail=1; }
    done
    echo "ok: $package ($(wc -l <<<"$contents") entries)"
    dpkg-deb -x "$deb" "$work/root"
}

check libdevconfig1 'libvirtualboard1|wiringpi' lib/libdevconfig.so.1 "lib/libdevconfig.so.$version"
check libdevconfig-dev "libdevconfig1 \(= $version\)" include/DEV_Config.h lib/libdevconfig.so \
    lib/cmake/devconfig/devconfigConfig.cmake lib/cmake/devconfig/devconfigConfigVersion.cmake \
    lib/pkgconfig/devconfig.pc
check devconfig-tools "libdevconfig1 \(= $version\)" bin/devcfg
check libvirtualboard1 'libc6' "lib/libvirtualboard.so.$version"
check libvirtualboard-dev "libvirtualboard1 \(= $version\)" include/virtualboard/wiringPi.h \
    include/virtualboard/wiringPiSPI.h include/virtualboard/vboard/board.hpp \
    lib/cmake/vboard/vboardConfig.cmake lib/pkgconfig/vboard.pc lib/libvirtualboard.so

out=$("${emulator[@]}" "$work/root/usr/bin/devcfg" --no-sleep open read 18 close)
grep -qx 'read 18 = 1' <<<"$out" || { echo "FAILED: the packaged devcfg printed '$out'"; fail=1; }
[ $fail = 0 ] && echo "the packages hold what they should, and the packaged devcfg runs"
exit $fail

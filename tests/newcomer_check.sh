#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A newcomer's first hour, as the README tells it: on a fresh minimal Debian 12 (debootstrap's
# minbase), install exactly the packages the README names, clone this commit, and run the README's
# two first commands as they stand there (read from the README, not copied). Both must pass.
# Needs root, debootstrap and a Debian mirror.
# Usage: newcomer_check.sh WORK_DIR [MIRROR]   (run from a git checkout)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mkdir -p "$1" && cd "$1" && pwd)
mirror=${2:-http://deb.debian.org/debian}
root="$work/root"
fail() { echo "FAILED: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "the newcomer's check needs root (debootstrap, chroot)"

# What the README says, from the README itself: the packages of its first apt-get line, and the
# commands of its first sh block.
readme="$source_dir/README.md"
packages=$(sed -n 's/.*apt-get install \([^`]*\)`.*/\1/p' "$readme" | head -n 1)
[ -n "$packages" ] || fail "the README names no packages to install"
commands=$(awk '/^```sh$/ && !done {inside = 1; next} inside && /^```$/ {inside = 0; done = 1}
                inside && !/^#/ && NF {print}' "$readme")
[ "$(printf '%s\n' "$commands" | wc -l)" = 2 ] ||
    fail "the README's first sh block does not hold two commands: $commands"
echo "== the README's packages: $packages"
printf '== the README'"'"'s commands:\n%s\n' "$commands"

unmount_all() {
    for mount in "$root/proc" "$root/sys" "$root/dev/pts" "$root/dev"; do
        mountpoint -q "$mount" 2>/dev/null && umount -l "$mount" || true
    done
}
trap unmount_all EXIT
unmount_all
rm -rf "$root"
echo "== debootstrap --variant=minbase bookworm ($mirror)"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log"; fail "debootstrap"; }
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

# The commit, as a clone would bring it.
git -C "$source_dir" bundle create "$work/commit.bundle" HEAD >/dev/null 2>&1
cp "$work/commit.bundle" "$root/tmp/commit.bundle"

in_root() {  # in_root SCRIPT: runs SCRIPT with bash in the fresh system, as a newcomer's shell
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -euo pipefail -c "$1"
}

echo "== apt-get install (exactly the README's list)"
# shellcheck disable=SC2086
in_root "export DEBIAN_FRONTEND=noninteractive; apt-get update -qq &&
         apt-get install -y -qq $packages" >"$work/apt.log" 2>&1 ||
    { tail -n 20 "$work/apt.log"; fail "the README's packages do not install"; }

echo "== git clone"
in_root "git clone -q /tmp/commit.bundle /root/devconfig" || fail "git clone"

run_command() {  # run_command N COMMAND
    echo "== the README's command $1: $2"
    if ! in_root "cd /root/devconfig && $2" >"$work/command$1.log" 2>&1; then
        tail -n 40 "$work/command$1.log"
        fail "the README's command $1 fails on a fresh Debian 12"
    fi
    tail -n 3 "$work/command$1.log"
}
n=0
while IFS= read -r command; do
    n=$((n + 1))
    run_command "$n" "$command"
done <<<"$commands"
echo "the README's two commands pass on a fresh Debian 12 with exactly its packages"

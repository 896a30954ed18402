#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every file option of vboard run against paths it cannot use: a missing directory, a directory
# where a file belongs, a file where a directory belongs, and (when not run as root, who may read
# and write anything) an unreadable or unwritable file. Each must give status 3 and one line on
# standard error, with the program not run.
# Usage: file_options_test.sh VBOARD WORKDIR
set -uo pipefail
vboard=$1 work=$2
rm -rf "$work" && mkdir -p "$work/adir" "$work/locked" "$work/badframes" && cd "$work" || exit 1
fail=0
failed() { echo "FAILED: $*"; fail=1; }
: >afile
printf 'not a png' >badframes/001-panel.png
printf '[board]\nreal_sleep = false\n' >unreadable.toml
printf '# index start end bus select bytes\n' >unreadable.txt
chmod 000 unreadable.toml unreadable.txt
chmod 555 locked

rows=(
    "--board|none/board.toml"
    "--board|adir"
    "--expect|none/golden.txt"
    "--expect|adir"
    "--expect none/g.txt --update|"
    "--expect adir --update|"
    "--expect afile/g.txt --update|"
    "--expect-frames|none"
    "--expect-frames|afile"
    "--expect-frames|badframes"
    "--expect-frames afile/frames --update|"
    "--frames|none"
    "--frames|afile"
)
for option in --vcd --log --transactions --report --junit; do
    rows+=("$option|none/out" "$option|adir" "$option|afile/out")
done
if [ "$(id -u)" != 0 ]; then
    rows+=("--board|unreadable.toml" "--expect|unreadable.txt" "--vcd|locked/out" "--frames|locked"
        "--expect locked/g.txt --update|" "--expect-frames locked/frames --update|")
fi

for row in "${rows[@]}"; do
    IFS='|' read -r option path <<<"$row"
    rm -f ran
    # shellcheck disable=SC2086
    "$vboard" run $option $path -- touch ran >out.txt 2>err.txt
    status=$?
    [ "$status" = 3 ] || failed "$option $path: status $status, expected 3: $(cat err.txt)"
    [ ! -e ran ] || failed "$option $path: the program ran"
    [ "$(wc -l <err.txt)" = 1 ] || failed "$option $path: not one line: $(cat err.txt)"
done
[ ! -e none ] || failed "a refused run made the directory none"
chmod 755 locked
exit $fail

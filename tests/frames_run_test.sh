#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# vboard run with the black/white/red panel example: --frames writes the PNG the driver drew, --expect-frames
# passes against the committed golden frames, a changed picture exits 6 with one line per frame
# and a diff image, --update rewrites the golden directory, an unusable golden directory is
# refused with 3 before the program runs, and the transactions list the frame.
# Usage: frames_run_test.sh VBOARD PANEL BOARD_TOML GOLDEN_DIR WORKDIR
set -uo pipefail
vboard=$1 bwr_panel=$2 board=$3 golden=$4 work=$5
rm -rf "$work" && mkdir -p "$work/frames" "$work/bad" && cd "$work" || exit 1
fail=0
failed() { echo "FAILED: $*"; fail=1; }
expect_status() {  # expect_status WANT NAME COMMAND...
    local want=$1 name=$2
    shift 2
    "$@" >"$name.out" 2>"$name.err"
    local got=$?
    [ "$got" = "$want" ] || failed "$name: status $got, expected $want: $(cat "$name.err")"
}

expect_status 0 frames "$vboard" run --board "$board" --frames frames --transactions t.txt \
    -- "$bwr_panel"
[ -f frames/001-panel.png ] || failed "frames: no 001-panel.png"
cmp -s frames/001-panel.png "$golden/001-panel.png" || failed "frames: not the golden picture"
grep -q '^# frame 001-panel.png at 2\.' t.txt || failed "frames: not listed in the transactions"

expect_status 0 golden "$vboard" run --board "$board" --expect-frames "$golden" -- "$bwr_panel"

# Another text: the same frame, other pixels.
expect_status 6 changed "$vboard" run --board "$board" --expect-frames "$golden" \
    --frames frames -- "$bwr_panel" "HELLO PC"
grep -q '^vboard: 1 frame differ' changed.err || failed "changed: no summary: $(cat changed.err)"
grep -Eq '^001-panel\.png: [0-9]+ pixels differ in \([0-9]+,[0-9]+\)-\([0-9]+,[0-9]+\)$' \
    changed.err || failed "changed: no line for the frame: $(cat changed.err)"
[ -f frames/001-panel.diff.png ] || failed "changed: no diff image beside the frames"
expect_status 6 junit "$vboard" run --board "$board" --expect-frames "$golden" --junit j.xml \
    -- "$bwr_panel" "HELLO PC"
grep -q 'failure message="1 frame differs from ' j.xml || failed "junit: no frames failure: $(cat j.xml)"
expect_status 0 tolerated "$vboard" run --board "$board" --expect-frames "$golden" \
    --frame-tolerance 100000 -- "$bwr_panel" "HELLO PC"

# Without --frames the run's frames and diff images go to a directory of its own, named.
expect_status 6 own "$vboard" run --board "$board" --expect-frames "$golden" -- "$bwr_panel" "X"
own=$(sed -n 's/.*(the run.s frames and diff images: \(.*\))$/\1/p' own.err)
[ -n "$own" ] && [ -f "$own/001-panel.diff.png" ] || failed "own: no diff image: $(cat own.err)"
rm -rf "$own"

# --update rewrites the directory; a frame that no longer shows goes.
mkdir updated && cp "$golden/001-panel.png" updated/007-old.png
expect_status 0 update "$vboard" run --board "$board" --expect-frames updated --update \
    -- "$bwr_panel" "HELLO PC"
[ "$(ls updated)" = "001-panel.png" ] || failed "update: holds $(ls updated)"
expect_status 0 updated "$vboard" run --board "$board" --expect-frames updated -- "$bwr_panel" "HELLO PC"

# Unusable golden directories: status 3, the program not run.
printf 'not a png' >bad/001-panel.png
for golden_dir in bad /no/such/dir "$board"; do
    expect_status 3 refused "$vboard" run --board "$board" --expect-frames "$golden_dir" \
        --frames frames -- touch ran
    [ ! -e ran ] || failed "refused: the program ran for $golden_dir"
    [ "$(wc -l <refused.err)" = 1 ] || failed "refused: not one line: $(cat refused.err)"
done
expect_status 3 no_frames_dir "$vboard" run --frames /no/such/dir -- touch ran
expect_status 2 tolerance_alone "$vboard" run --frame-tolerance 3 -- true
expect_status 2 tolerance_word "$vboard" run --expect-frames "$golden" --frame-tolerance many -- true

exit $fail

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual pages render with no warning from man, and devcfg's bash completion offers the steps,
# options and words a command line can hold.
# Usage: manpages_test.sh COMPLETION_FILE PAGE...
set -uo pipefail
completion=$1
shift
fail=0
for page in "$@"; do
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "FAILED: $page: $warnings"; fail=1; }
    MANWIDTH=80 man -l "$page" 2>/dev/null | grep '^NAME' >/dev/null || { echo "FAILED: $page: no NAME"; fail=1; }
    # help2man's pages carry the version the tool's --version printed
    case $page in
        *.1) head -n 5 "$page" | grep -q '^\.TH .*"devconfig [0-9][0-9.]*"' ||
            { echo "FAILED: $page: no version in $(grep '^\.TH' "$page")"; fail=1; } ;;
    esac
done

# shellcheck disable=SC1090
source "$completion"
complete_words() {  # complete_words WORD... : what completing the last word offers
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _devcfg
    echo "${COMPREPLY[*]}"
}
while IFS='|' read -r words want; do
    # shellcheck disable=SC2086
    got=$(complete_words devcfg $words)
    [ "$got" = "$want" ] || { echo "FAILED: completing 'devcfg $words': '$got', expected '$want'"; fail=1; }
done <<'CASES'
sp|spi-open spi
--ti|--timing
--ver|--version
open write 7 x|
open mode 24 i|in
spi-open s|s
CASES
exit $fail

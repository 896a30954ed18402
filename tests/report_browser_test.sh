#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The example driver's HTML report, opened in Debian's chromium by tests/browser/report_test.mjs.
# Skipped (status 77), and says so, where chromium, node or the browser driver are missing, unless
# VBOARD_REQUIRE_BROWSER=1 (CI installs them) makes that a failure.
# The panel example's report shows its frame as a thumbnail on the time axis.
# Usage: report_browser_test.sh VBOARD BUSY_DEVICE BUSY_TOML PANEL PANEL_TOML WORKDIR
set -uo pipefail
vboard=$1 busy_device=$2 busy_toml=$3 bwr_panel=$4 panel_toml=$5 work=$6
here=$(cd "$(dirname "$0")" && pwd)
missing=()
command -v node >/dev/null || missing+=(node)
[ -x "${CHROMIUM:-/usr/bin/chromium}" ] || missing+=("chromium (apt-get install chromium)")
[ -d "$here/browser/node_modules/playwright-core" ] ||
    missing+=("playwright-core (npm ci --prefix tests/browser)")
if [ ${#missing[@]} -gt 0 ]; then
    echo "browser test skipped: missing ${missing[*]}"
    [ "${VBOARD_REQUIRE_BROWSER:-0}" = 1 ] && exit 1
    exit 77
fi
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
# The example's board, with a timing check whose name is markup: it fires at close (EN is high
# for about 10 ms, under a second), so the name reaches the page.
cp "$busy_toml" board.toml
cat >>board.toml <<'TOML'

[[timing]]
name = "<script>window.injected = 1</script>"
check = "pulse_width"
pin = 18
level = "high"
min = "1s"
TOML
"$vboard" run --board board.toml --report report.html --timing-warnings -- "$busy_device" >/dev/null ||
    { echo "FAILED: the run did not pass"; exit 1; }
"$vboard" run --board "$panel_toml" --report frames.html -- "$bwr_panel" >/dev/null ||
    { echo "FAILED: the panel run did not pass"; exit 1; }
node "$here/browser/report_test.mjs" report.html report.png frames.html

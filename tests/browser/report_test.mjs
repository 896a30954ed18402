// SPDX-License-Identifier: MIT
// Opens a vboard report of the example driver's run in Debian's chromium, headless, and checks
// what a person would: the page loads offline with no console error, the table holds the run's
// bytes, choosing a transaction brings the waveform to it, the header shows BCM 18 (EN) high
// after open and low after close, and a board-file label written as markup shows as text. In a
// display driver's report, the frame is a thumbnail on the time axis that a click enlarges,
// bringing the waveform to its moment.
// Usage: node report_test.mjs REPORT.html SCREENSHOT.png [FRAMES_REPORT.html]
import { chromium } from 'playwright-core';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';

const [reportPath, screenshotPath, framesReportPath] = process.argv.slice(2);
const url = 'file://' + resolve(reportPath);
const failures = [];
const check = (ok, what) => { if (!ok) failures.push(what); };

const profile = mkdtempSync(join(tmpdir(), 'vboard-report-chromium-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  viewport: { width: 1400, height: 1100 },
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  const page = context.pages()[0] || await context.newPage();
  const errors = [];
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  page.on('pageerror', (error) => errors.push(error.message));
  const fetched = [];
  page.on('request', (request) => { if (request.url() !== url) fetched.push(request.url()); });
  await page.goto(url, { waitUntil: 'load' });

  check(errors.length === 0, 'console errors: ' + errors.join(' | '));
  check(fetched.length === 0, 'the page fetched: ' + fetched.join(' '));

  const rows = await page.$$eval('#transactions tbody tr', (trs) => trs.map((tr) => ({
    index: tr.dataset.index, start: Number(tr.dataset.start), text: tr.cells[5]?.textContent })));
  check(rows.some((r) => r.text === 'dc=0 > 12 dc=1 a5 3c'), 'no store command row: ' + JSON.stringify(rows));
  check(rows.some((r) => r.text === 'dc=0 > 71 dc=1 < 5a'), 'no status read row: ' + JSON.stringify(rows));

  const run = await page.$eval('#view-range', (o) => [Number(o.dataset.start), Number(o.dataset.end)]);
  const store = rows.find((r) => r.text === 'dc=0 > 12 dc=1 a5 3c');
  if (store) {
    await page.click(`#transactions tbody tr[data-index="${store.index}"]`);
    const view = await page.$eval('#view-range', (o) => [Number(o.dataset.start), Number(o.dataset.end)]);
    check(view[0] <= store.start && store.start <= view[1], `the view ${view} does not hold ${store.start}`);
    check(view[1] - view[0] < (run[1] - run[0]) / 10, `the view ${view} did not zoom to the transaction`);
    check(await page.$eval(`#transactions tbody tr[data-index="${store.index}"]`,
      (tr) => tr.classList.contains('selected')), 'the chosen row is not marked');
  }

  // Searching for a byte: the status byte 5a, read back after the store.
  await page.fill('#search', '5a');
  await page.click('#search-next');
  const found = await page.$eval('#search-result', (o) => o.textContent);
  check(/^byte 5a at [0-9.]+ ms \(1 of 1\)$/.test(found), 'the search says ' + found);
  const status = rows.find((r) => r.text === 'dc=0 > 71 dc=1 < 5a');
  if (status) {
    check(await page.$eval(`#transactions tbody tr[data-index="${status.index}"]`,
      (tr) => tr.classList.contains('selected')), 'the search does not choose the byte\'s transaction');
  }
  // Keyboard: f shows the whole run again.
  await page.click('#zoom-in');
  await page.keyboard.press('f');
  const whole = await page.$eval('#view-range', (o) => [Number(o.dataset.start), Number(o.dataset.end)]);
  check(whole[0] === run[0] && whole[1] === run[1], 'f does not show the whole run: ' + whole);

  // Markers A and B, and the pulse under A: EN (BCM 18) is high from open to close.
  const box = await page.$eval('#wave', (c) => { const r = c.getBoundingClientRect(); return { x: r.x, y: r.y, w: r.width }; });
  const enRow = 8;  // BCM 18 is the ninth lane: SCLK MOSI MISO CE0 CE1 OUT_A OUT_B IN EN
  const y = box.y + 24 + enRow * 30 + 15;
  const xAt = (t) => box.x + 190 + (t - run[0]) / (run[1] - run[0]) * (box.w - 190);
  await page.mouse.click(xAt((run[0] + run[1]) / 2), y);
  const pulse = await page.$eval('#pulse', (o) => o.textContent);
  check(/^BCM 18 high for 10\.[0-9]+ ms$/.test(pulse), 'the pulse under the cursor says ' + pulse);
  await page.keyboard.down('Shift');
  await page.mouse.click(xAt(run[0] + (run[1] - run[0]) * 0.75), y);
  await page.keyboard.up('Shift');
  const delta = await page.$eval('#marker-delta', (o) => o.textContent);
  check(/ ms \([0-9.]+ (Hz|kHz|MHz)\)$/.test(delta), 'B-A says ' + delta);

  // A click on a lane's label hides the lane; the button brings it back.
  const lanesBefore = await page.$eval('#wave', (c) => c.height);
  await page.mouse.click(box.x + 20, box.y + 24 + 2 * 30 + 15);  // MISO's label
  check(await page.$eval('#wave', (c) => c.height) < lanesBefore, 'the lane did not hide');
  check(await page.$eval('#show-lanes', (b) => !b.hidden && b.textContent === 'Show 1 hidden lane'),
    'no button to show the hidden lane');
  await page.click('#show-lanes');
  check(await page.$eval('#wave', (c) => c.height) === lanesBefore, 'the hidden lane did not come back');

  const en = 'td.level[data-bcm="18"]';
  // BCM 18 sits on the header's right side, its name in the row's last cell: the run's name for it.
  const enName = await page.$eval(en, (td) => td.parentElement.lastElementChild.textContent);
  check(enName === 'BCM 18 DEV_EN_PIN', 'the header names BCM 18 ' + enName);
  await page.fill('#header-time', '2');
  await page.dispatchEvent('#header-time', 'change');
  check(await page.$eval(en, (td) => td.dataset.level) === '1', 'BCM 18 is not high at 2 ms, after open');
  await page.click('#header-end');
  check(await page.$eval(en, (td) => td.dataset.level) === '0', 'BCM 18 is not low at the end, after close');

  const events = await page.$$eval('#events li', (items) => items.map((li) => li.textContent));
  check(events.some((text) => text.includes('<script>window.injected = 1</script>')),
    'the markup label does not show as text: ' + JSON.stringify(events));
  check(await page.evaluate(() => window.injected === undefined), 'the markup label ran as script');
  check(events.some((text) => text.includes('rule 1 "busy while a store runs" fires: drives BCM24 low')),
    'no named rule firing in what happened: ' + JSON.stringify(events));

  await page.screenshot({ path: screenshotPath, fullPage: true });

  if (framesReportPath) {
    await page.goto('file://' + resolve(framesReportPath), { waitUntil: 'load' });
    check(errors.length === 0, 'console errors in the frames report: ' + errors.join(' | '));
    const thumb = await page.$eval('#frame-lane .thumb img', (img) =>
      ({ width: img.naturalWidth, height: img.naturalHeight, visible: img.offsetParent !== null }))
      .catch(() => null);
    check(thumb && thumb.width === 200 && thumb.height === 200 && thumb.visible,
      'no 200x200 thumbnail on the time axis: ' + JSON.stringify(thumb));
    await page.click('#zoom-in');
    await page.click('#pan-left');
    await page.click('#pan-left');  // the frame at the end of the run is out of view now
    check(await page.$eval('#frame-lane .thumb', (b) => b.hidden), 'a thumbnail out of view shows');
    await page.click('#fit');
    await page.click('#frame-lane .thumb');
    check(await page.$eval('#frame-view', (v) => !v.hidden), 'a click does not enlarge the frame');
    const caption = await page.$eval('#frame-caption', (c) => c.textContent);
    check(caption.startsWith('001-panel.png at 2.0'), 'the enlarged frame says ' + caption);
    const big = await page.$eval('#frame-big', (img) => img.naturalWidth);
    check(big === 200, 'the enlarged frame is ' + big + ' pixels wide');
  }
} finally {
  await context.close();
  rmSync(profile, { recursive: true, force: true });
}
if (failures.length > 0) {
  for (const failure of failures) console.log('FAILED: ' + failure);
  process.exit(1);
}
console.log('the report opens offline in chromium and shows the run');

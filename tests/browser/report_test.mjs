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

  const en = 'td.level[data-bcm="18"]';
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

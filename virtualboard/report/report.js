// SPDX-License-Identifier: MIT
// The report page: draws the run from the data the board wrote into the page. Every text that
// came from the run goes in as text (textContent), never as markup.
'use strict';
(() => {
  const data = JSON.parse(document.getElementById('data').textContent);
  const ending = JSON.parse(document.getElementById('ending').textContent);
  const $ = (id) => document.getElementById(id);

  const FUNCTIONS = ['input', 'output', 'ALT0', 'ALT1', 'ALT2', 'ALT3', 'ALT4', 'ALT5'];
  // The names the run gave its lines (the driver's pin map, say), by BCM number.
  const NAMES = Object.fromEntries(data.names);
  const SPI0 = { 11: 'SCLK', 10: 'MOSI', 9: 'MISO', 8: 'CE0', 7: 'CE1' };
  // The header as it sits on the board, physical pin 1 first: a BCM line or a supply.
  const HEADER = ['3V3', '5V', 2, '5V', 3, 'GND', 4, 14, 'GND', 15, 17, 18, 27, 'GND', 22, 23,
    '3V3', 24, 10, 'GND', 9, 25, 11, 8, 'GND', 7, 0, 1, 5, 'GND', 6, 12, 13, 'GND', 19, 16, 26,
    20, 'GND', 21];
  // SPI0's lines, then the named ones, then any other line that changed.
  const LANES = [11, 10, 9, 8, 7].concat(data.names.map(([pin]) => pin).filter((pin) => pin < 7 || pin > 11));
  const sideNames = new Map(data.side.map(([pin, name]) => [pin, name]));

  // ---- times -------------------------------------------------------------------------------
  function formatTime(ns) {
    if (ns >= 1e9) return (ns / 1e9).toFixed(6).replace(/\.?0+$/, '') + ' s';
    if (ns >= 1e6) return (ns / 1e6).toFixed(6).replace(/\.?0+$/, '') + ' ms';
    if (ns >= 1e3) return (ns / 1e3).toFixed(3).replace(/\.?0+$/, '') + ' us';
    return Math.round(ns) + ' ns';
  }

  // ---- line levels ---------------------------------------------------------------------------
  function decode(part) {
    const lines = new Map();
    for (const [pin, deltas] of Object.entries(part.lines)) {
      const times = new Float64Array(deltas.length);
      let t = part.base;
      for (let i = 0; i < deltas.length; ++i) { t += deltas[i]; times[i] = t; }
      lines.set(Number(pin), times);
    }
    return { base: part.base, levels: part.levels, lines };
  }
  const head = decode(data.head);
  const tail = decode(data.tail);
  const gap = data.gap;
  const hasTail = tail.lines.size > 0;

  // Index of the first time above t (edges at or before t have happened).
  function upper(times, t) {
    let lo = 0, hi = times.length;
    while (lo < hi) { const mid = (lo + hi) >> 1; if (times[mid] <= t) lo = mid + 1; else hi = mid; }
    return lo;
  }
  function partAt(t) { return hasTail && t >= tail.base ? tail : head; }
  // The level of `pin` at `t`, or null inside the stretch the report left out.
  function levelAt(pin, t) {
    if (gap && t > gap.from && t < gap.to) return null;
    const part = partAt(t);
    const times = part.lines.get(pin);
    const flips = times ? upper(times, t) : 0;
    return (part.levels[pin] ^ (flips & 1)) === 1 ? 1 : 0;
  }

  // ---- functions -----------------------------------------------------------------------------
  function functionAt(pin, t) {
    const f = data.functions;
    const useTail = f.tail.length > 0 && t >= f.tail[0][0];
    let code = useTail ? f.tail_start[pin] : f.start[pin];
    for (const [time, p, c] of useTail ? f.tail : f.head) {
      if (time > t) break;
      if (p === pin) code = c;
    }
    return code;
  }

  // ---- transactions --------------------------------------------------------------------------
  const transactions = data.transactions.head.concat(data.transactions.tail);
  let selected = -1;  // position in `transactions`

  // ---- the view -------------------------------------------------------------------------------
  const runStart = data.start;
  const runEnd = Math.max(data.end, runStart + 1);
  let view = [runStart, runEnd];
  let cursor = null;

  const lanes = LANES.slice();
  data.changed.forEach((changed, pin) => { if (changed && !lanes.includes(pin)) lanes.push(pin); });
  for (const pin of sideNames.keys()) if (!lanes.includes(pin)) lanes.push(pin);

  function laneLabel(pin) {
    const parts = ['BCM ' + pin];
    if (SPI0[pin]) parts.push(SPI0[pin]);
    if (NAMES[pin]) parts.push(NAMES[pin]);
    if (sideNames.has(pin)) parts.push(sideNames.get(pin));
    return parts.join(' ');
  }

  const canvas = $('wave');
  const ctx = canvas.getContext('2d');
  const LABEL_W = 190, LANE_H = 30, AXIS_H = 24;
  let width = 0;
  const plotW = () => Math.max(1, width - LABEL_W);
  const xOf = (t) => LABEL_W + (t - view[0]) / (view[1] - view[0]) * plotW();
  const tOf = (x) => view[0] + (x - LABEL_W) / plotW() * (view[1] - view[0]);
  const laneTop = (i) => AXIS_H + i * LANE_H;

  function setView(from, to) {
    const span = Math.max(to - from, 10);
    from = Math.max(runStart, Math.min(from, runEnd - span));
    view = [from, Math.min(runEnd, from + span)];
    if (view[1] - view[0] < 10) view = [runStart, runEnd];
    $('view-range').textContent = formatTime(view[0]) + ' to ' + formatTime(view[1]);
    $('view-range').dataset.start = String(view[0]);
    $('view-range').dataset.end = String(view[1]);
    draw();
  }
  function zoom(factor, at) {
    const centre = at ?? (view[0] + view[1]) / 2;
    const span = (view[1] - view[0]) * factor;
    const left = (centre - view[0]) / (view[1] - view[0]);
    setView(centre - span * left, centre - span * left + span);
  }
  function pan(fraction) {
    const span = view[1] - view[0];
    setView(view[0] + span * fraction, view[1] + span * fraction);
  }

  function drawAxis() {
    ctx.fillStyle = '#5d6b7c';
    ctx.font = '11px system-ui, sans-serif';
    const span = view[1] - view[0];
    const step = Math.pow(10, Math.floor(Math.log10(span / 6)));
    const tick = [1, 2, 5, 10].map((m) => m * step).find((s) => span / s <= 10) || step * 10;
    ctx.strokeStyle = '#eef1f4';
    for (let t = Math.ceil(view[0] / tick) * tick; t <= view[1]; t += tick) {
      const x = xOf(t);
      ctx.beginPath(); ctx.moveTo(x, AXIS_H - 4); ctx.lineTo(x, laneTop(lanes.length)); ctx.stroke();
      ctx.fillText(formatTime(t), x + 2, 12);
    }
  }

  function drawFrames() {
    transactions.forEach((tr, i) => {
      if (tr.e < view[0] || tr.s > view[1]) return;
      const x0 = Math.max(LABEL_W, xOf(tr.s)), x1 = Math.min(width, Math.max(xOf(tr.e), x0 + 1));
      ctx.fillStyle = i === selected ? 'rgba(255, 170, 0, 0.22)' : 'rgba(31, 111, 235, 0.08)';
      ctx.fillRect(x0, AXIS_H, x1 - x0, laneTop(lanes.length) - AXIS_H);
    });
  }

  function drawLane(pin, row) {
    const top = laneTop(row), hi = top + 6, lo = top + LANE_H - 8;
    ctx.fillStyle = row % 2 ? '#fbfcfd' : '#fff';
    ctx.fillRect(0, top, LABEL_W, LANE_H);
    ctx.fillStyle = '#1c2430';
    ctx.font = '12px system-ui, sans-serif';
    ctx.fillText(laneLabel(pin), 6, top + LANE_H / 2 + 4);
    ctx.strokeStyle = '#1a7f37';
    ctx.lineWidth = 1.5;
    const parts = hasTail ? [[head, runStart, gap ? gap.from : tail.base], [tail, gap ? gap.to : tail.base, runEnd]]
      : [[head, runStart, runEnd]];
    for (const [part, from, to] of parts) {
      const a = Math.max(from, view[0]), b = Math.min(to, view[1]);
      if (a >= b) continue;
      const times = part.lines.get(pin) || new Float64Array(0);
      let i = upper(times, a);
      let level = (part.levels[pin] ^ (i & 1)) === 1;
      const y = (l) => (l ? hi : lo);
      let lastX = Math.floor(xOf(a)), dense = false;
      ctx.beginPath();
      ctx.moveTo(xOf(a), y(level));
      // Edges that fall in one pixel column are drawn as one bar across the lane.
      const closeDense = () => {
        if (!dense) return;
        ctx.moveTo(lastX + 0.5, hi); ctx.lineTo(lastX + 0.5, lo); ctx.moveTo(lastX + 0.5, y(level));
        dense = false;
      };
      for (; i < times.length && times[i] <= b; ++i) {
        const ex = xOf(times[i]);
        if (Math.floor(ex) === lastX) { level = !level; dense = true; continue; }
        closeDense();
        ctx.lineTo(ex, y(level));
        level = !level;
        ctx.lineTo(ex, y(level));
        lastX = Math.floor(ex);
      }
      closeDense();
      ctx.lineTo(xOf(b), level ? hi : lo);
      ctx.stroke();
    }
    if (gap && gap.to > view[0] && gap.from < view[1]) {
      const x0 = Math.max(LABEL_W, xOf(gap.from)), x1 = Math.min(width, xOf(gap.to));
      ctx.fillStyle = 'rgba(120, 120, 120, 0.25)';
      ctx.fillRect(x0, top + 2, Math.max(1, x1 - x0), LANE_H - 4);
    }
  }

  // The byte boxes drawn over the data lines: where a click selects their transaction.
  let byteBoxes = [];
  let unlabelled = 0;  // byte boxes in view too narrow for their label
  function drawBytes() {
    byteBoxes = [];
    unlabelled = 0;
    ctx.font = '11px ui-monospace, monospace';
    transactions.forEach((tr, i) => {
      if (tr.e < view[0] || tr.s > view[1] || tr.b.length === 0) return;
      tr.b.forEach((b, k) => {
        const start = b[0];
        let stop = k + 1 < tr.b.length ? tr.b[k + 1][0] : tr.e;
        // Where the page left bytes out, the byte before the gap lasts as long as the one before.
        const last = k > 0 ? start - tr.b[k - 1][0] : 0;
        if (tr.left_out > 0 && last > 0 && stop - start > 4 * last) stop = start + last;
        const boxes = tr.bus === 'link' ? [[10, b[2], b[4]]] : [[10, b[2], 8], [9, b[3], 8]];
        for (const [pin, value, bits] of boxes) {
          const row = lanes.indexOf(pin);
          if (row < 0) continue;
          const x0 = Math.max(LABEL_W, xOf(start)), x1 = Math.min(width, xOf(stop));
          if (x1 < LABEL_W || x0 > width) continue;
          const top = laneTop(row) + 3;
          ctx.fillStyle = b[1] === 1 ? 'rgba(154, 103, 0, 0.18)' : 'rgba(31, 111, 235, 0.16)';
          ctx.fillRect(x0, top, Math.max(1, x1 - x0 - 1), LANE_H - 6);
          const label = value.toString(16).padStart(2, '0') + (bits !== 8 ? '/' + bits + 'b' : '');
          if (x1 - x0 > label.length * 7 + 4) {
            ctx.fillStyle = '#0b3d91';
            ctx.fillText(label, x0 + 3, top + LANE_H / 2 + 1);
          } else {
            ++unlabelled;
          }
          byteBoxes.push({ x0, x1, top, bottom: top + LANE_H - 6, transaction: i });
        }
      });
    });
  }

  function draw() {
    const box = $('wave-box');
    width = box.clientWidth;
    const height = laneTop(lanes.length) + 4;
    const ratio = window.devicePixelRatio || 1;
    canvas.width = width * ratio; canvas.height = height * ratio;
    canvas.style.height = height + 'px';
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.clearRect(0, 0, width, height);
    drawAxis();
    drawFrames();
    lanes.forEach((pin, row) => drawLane(pin, row));
    drawBytes();
    drawViolations(height);
    placeThumbs();
    const mark = (t, colour, name) => {
      if (t === null || t < view[0] || t > view[1]) return;
      ctx.strokeStyle = colour; ctx.lineWidth = 1;
      ctx.beginPath(); ctx.moveTo(xOf(t), AXIS_H - 6); ctx.lineTo(xOf(t), height); ctx.stroke();
      ctx.fillStyle = colour; ctx.font = 'bold 11px system-ui, sans-serif';
      ctx.fillText(name, xOf(t) + 3, AXIS_H - 2);
    };
    mark(cursor, '#d1242f', 'A');
    mark(markerB, '#1f6feb', 'B');
    if (drag && drag.box && drag.moved) {
      ctx.fillStyle = 'rgba(31, 111, 235, 0.15)';
      ctx.fillRect(Math.min(drag.x, drag.to), AXIS_H, Math.abs(drag.to - drag.x), height - AXIS_H);
    }
    $('wave-hint').textContent = unlabelled > 0
      ? unlabelled + ' bytes here are too close together to label: zoom in to read them' : '';
    showMeasures();
  }

  // Each timing violation, a red mark on the time axis at its moment.
  function drawViolations(height) {
    ctx.fillStyle = '#b42318';
    ctx.strokeStyle = 'rgba(180, 35, 24, 0.35)';
    for (const [t] of data.violations) {
      if (t < view[0] || t > view[1]) continue;
      const x = xOf(t);
      ctx.beginPath(); ctx.moveTo(x - 5, AXIS_H - 10); ctx.lineTo(x + 5, AXIS_H - 10);
      ctx.lineTo(x, AXIS_H - 2); ctx.closePath(); ctx.fill();
      ctx.beginPath(); ctx.moveTo(x, AXIS_H); ctx.lineTo(x, height); ctx.stroke();
    }
  }

  // ---- markers and the pulse under the cursor ----------------------------------------------------
  let markerB = null;
  let chosenPin = null;  // the lane clicked last: its pulse, and the edges [ and ] go to
  function frequency(ns) {
    const hz = 1e9 / ns;
    if (hz >= 1e6) return (hz / 1e6).toPrecision(4) + ' MHz';
    if (hz >= 1e3) return (hz / 1e3).toPrecision(4) + ' kHz';
    return hz.toPrecision(4) + ' Hz';
  }
  // The edges of `pin` around `t` in the part of the run that holds `t`.
  function edgesAround(pin, t) {
    const times = partAt(t).lines.get(pin) || new Float64Array(0);
    const i = upper(times, t);
    return { times, i };
  }
  function pulseText(pin, t) {
    const level = levelAt(pin, t);
    if (level === null) return 'BCM ' + pin + ': inside the stretch left out';
    const { times, i } = edgesAround(pin, t);
    const name = 'BCM ' + pin + ' ' + (level ? 'high' : 'low');
    if (i === 0 && i === times.length) return name + ' all along';
    if (i === 0) return name + ' until ' + formatTime(times[0]);
    if (i === times.length) return name + ' since ' + formatTime(times[i - 1]);
    const width = times[i] - times[i - 1];
    let text = name + ' for ' + formatTime(width);
    if (i + 1 < times.length) {
      const period = times[i + 1] - times[i - 1];
      const high = level ? width : period - width;
      text += '; period ' + formatTime(period) + ' (' + frequency(period) + '), duty ' +
        (100 * high / period).toFixed(1) + '%';
    }
    return text;
  }
  function showMeasures() {
    $('marker-a').textContent = cursor === null ? '\u2013' : formatTime(cursor);
    $('marker-b').textContent = markerB === null ? '\u2013' : formatTime(markerB);
    if (cursor !== null && markerB !== null && markerB !== cursor) {
      const d = Math.abs(markerB - cursor);
      $('marker-delta').textContent = (markerB < cursor ? '\u2212' : '') + formatTime(d) + ' (' + frequency(d) + ')';
    } else {
      $('marker-delta').textContent = '\u2013';
    }
    $('pulse').textContent = chosenPin !== null && cursor !== null ? pulseText(chosenPin, cursor) : '\u2013';
  }
  // Brings `t` into view, keeping the view's span, unless it is in view already.
  function reveal(t) {
    if (t >= view[0] && t <= view[1]) { draw(); return; }
    const span = view[1] - view[0];
    setView(t - span / 2, t + span / 2);
  }

  // ---- the edges of the chosen line -----------------------------------------------------------
  function allEdges(pin) {
    const a = head.lines.get(pin) || new Float64Array(0);
    const b = hasTail ? (tail.lines.get(pin) || new Float64Array(0)) : new Float64Array(0);
    return [a, b];
  }
  function jumpEdge(forward) {
    const pin = chosenPin ?? lanes[0];
    const from = cursor ?? (forward ? view[0] : view[1]);
    let found = null;
    for (const times of allEdges(pin)) {
      for (let k = forward ? upper(times, from) : upper(times, from - 1) - 1;
        k >= 0 && k < times.length; k += forward ? 1 : -1) {
        if (forward ? times[k] > from : times[k] < from) {
          if (found === null || (forward ? times[k] < found : times[k] > found)) found = times[k];
          break;
        }
      }
    }
    if (found === null) return;
    chosenPin = pin;
    cursor = found;
    showHeaderAt(found);
    reveal(found);
  }

  // ---- searching for a byte -------------------------------------------------------------------
  function searchHits() {
    const text = $('search').value.trim().toLowerCase().replace(/^0x/, '');
    if (!/^[0-9a-f]{1,2}$/.test(text)) return null;
    const value = parseInt(text, 16);
    const hits = [];
    transactions.forEach((tr, position) => {
      for (const b of tr.b) {
        if (b[2] === value || (tr.bus !== 'link' && b[3] === value)) hits.push([b[0], position]);
      }
    });
    hits.sort((x, y) => x[0] - y[0]);
    return { value, hits };
  }
  function jumpSearch(forward) {
    const found = searchHits();
    if (found === null) { $('search-result').textContent = 'a byte in hex, as a5'; return; }
    const { value, hits } = found;
    const from = cursor ?? (forward ? view[0] - 1 : view[1] + 1);
    let k = -1;
    if (forward) k = hits.findIndex(([t]) => t > from);
    else for (let j = hits.length - 1; j >= 0; --j) if (hits[j][0] < from) { k = j; break; }
    const name = value.toString(16).padStart(2, '0');
    if (k < 0) {
      $('search-result').textContent = hits.length === 0 ? 'no byte ' + name + ' in the report'
        : 'no ' + (forward ? 'later' : 'earlier') + ' byte ' + name;
      return;
    }
    const [t, position] = hits[k];
    cursor = t;
    $('search-result').textContent = 'byte ' + name + ' at ' + formatTime(t) + ' (' + (k + 1) + ' of ' + hits.length + ')';
    showHeaderAt(t);
    select(position, false);
    reveal(t);
  }
  $('search').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') jumpSearch(!event.shiftKey);
  });
  $('search-next').addEventListener('click', () => jumpSearch(true));
  $('search-prev').addEventListener('click', () => jumpSearch(false));
  $('edge-next').addEventListener('click', () => jumpEdge(true));
  $('edge-prev').addEventListener('click', () => jumpEdge(false));

  // ---- lanes a click on their label hides -------------------------------------------------------
  const allLanes = lanes.slice();
  const hidden = new Set();
  function showLanes() {
    lanes.length = 0;
    for (const pin of allLanes) if (!hidden.has(pin)) lanes.push(pin);
    $('show-lanes').hidden = hidden.size === 0;
    $('show-lanes').textContent = 'Show ' + hidden.size + (hidden.size === 1 ? ' hidden lane' : ' hidden lanes');
    draw();
  }
  $('show-lanes').addEventListener('click', () => { hidden.clear(); showLanes(); });

  // ---- frames: thumbnails on the time axis, enlarged on a click ----------------------------------
  const shownFrames = data.frames.map(([t, name, w, h, png]) => ({ t, name, w, h, png }));
  const pngSource = (frame) => 'data:image/png;base64,' + frame.png;
  const thumbs = shownFrames.map((frame, i) => {
    const button = document.createElement('button');
    button.type = 'button'; button.className = 'thumb';
    button.title = frame.name + ' at ' + formatTime(frame.t);
    if (frame.png) {
      const img = document.createElement('img');
      img.src = pngSource(frame); img.alt = frame.name;
      button.append(img);
    } else {
      button.textContent = frame.name;
    }
    button.addEventListener('click', () => showFrame(i));
    $('frame-lane').append(button);
    return button;
  });
  function placeThumbs() {
    thumbs.forEach((button, i) => {
      const t = shownFrames[i].t;
      button.hidden = t < view[0] || t > view[1];
      button.style.left = Math.max(LABEL_W, Math.min(xOf(t), width - 26)) + 'px';
    });
  }
  function showFrame(i) {
    const frame = shownFrames[i];
    const span = view[1] - view[0];
    cursor = frame.t;
    setView(frame.t - span / 2, frame.t + span / 2);
    showHeaderAt(frame.t);
    $('frame-big').src = frame.png ? pngSource(frame) : '';
    $('frame-big').alt = frame.name;
    $('frame-caption').textContent = frame.name + ' at ' + formatTime(frame.t) + ', ' + frame.w +
      'x' + frame.h + (frame.png ? '' : ' (its picture is left out: the page keeps 1 MiB of frames)');
    $('frame-view').hidden = false;
  }
  $('frame-close').addEventListener('click', () => { $('frame-view').hidden = true; });
  $('frame-lane').hidden = shownFrames.length === 0;

  // ---- interaction on the waveform -------------------------------------------------------------
  let drag = null;
  canvas.addEventListener('wheel', (event) => {
    event.preventDefault();
    const x = event.offsetX;
    zoom(event.deltaY < 0 ? 0.8 : 1.25, x > LABEL_W ? tOf(x) : undefined);
  }, { passive: false });
  canvas.addEventListener('mousedown', (event) => {
    drag = { x: event.offsetX, to: event.offsetX, view: view.slice(), moved: false, box: event.shiftKey };
  });
  window.addEventListener('mouseup', (event) => {
    const ended = drag;
    drag = null;
    if (!ended) return;
    if (!ended.moved) {
      if (event.target === canvas) click(event.offsetX, event.offsetY, event.shiftKey);
    } else if (ended.box) {  // shift-drag: zoom to the stretch
      const a = tOf(Math.max(LABEL_W, Math.min(ended.x, ended.to)));
      const b = tOf(Math.max(LABEL_W, Math.max(ended.x, ended.to)));
      setView(a, b);
    }
  });
  canvas.addEventListener('mousemove', (event) => {
    const x = event.offsetX;
    if (x > LABEL_W) $('cursor-time').textContent = formatTime(tOf(x));
    if (!drag) return;
    const dx = x - drag.x;
    if (Math.abs(dx) > 3) drag.moved = true;
    if (!drag.moved) return;
    if (drag.box) {
      drag.to = x;
      draw();
    } else {
      const dt = dx / plotW() * (drag.view[1] - drag.view[0]);
      setView(drag.view[0] - dt, drag.view[1] - dt);
    }
  });
  function click(x, y, shift) {
    const row = Math.floor((y - AXIS_H) / LANE_H);
    const pin = row >= 0 && row < lanes.length ? lanes[row] : null;
    if (x <= LABEL_W) {
      if (pin !== null) { hidden.add(pin); showLanes(); }
      return;
    }
    const hit = byteBoxes.find((b) => x >= b.x0 && x <= b.x1 && y >= b.top && y <= b.bottom);
    if (hit && !shift) { select(hit.transaction, false); return; }
    if (shift) {
      markerB = tOf(x);
    } else {
      cursor = tOf(x);
      if (pin !== null) chosenPin = pin;
      showHeaderAt(cursor);
    }
    draw();
  }
  document.addEventListener('keydown', (event) => {
    if (event.target instanceof HTMLInputElement || event.ctrlKey || event.metaKey || event.altKey) return;
    const span = view[1] - view[0];
    const keys = {
      '+': () => zoom(0.5), '=': () => zoom(0.5), '-': () => zoom(2),
      ArrowLeft: () => pan(-0.25), ArrowRight: () => pan(0.25),
      Home: () => setView(runStart, runStart + span), End: () => setView(runEnd - span, runEnd),
      f: () => setView(runStart, runEnd), n: () => jumpSearch(true), p: () => jumpSearch(false),
      ']': () => jumpEdge(true), '[': () => jumpEdge(false),
      Escape: () => { $('frame-view').hidden = true; },
    };
    const action = keys[event.key];
    if (action) { event.preventDefault(); action(); }
  });
  $('zoom-in').addEventListener('click', () => zoom(0.5));
  $('zoom-out').addEventListener('click', () => zoom(2));
  $('pan-left').addEventListener('click', () => pan(-0.25));
  $('pan-right').addEventListener('click', () => pan(0.25));
  $('fit').addEventListener('click', () => setView(runStart, runEnd));
  window.addEventListener('resize', draw);

  // ---- the transaction table -------------------------------------------------------------------
  const tbody = $('transactions').tBodies[0];
  const rows = [];
  function cell(row, text) { const td = row.insertCell(); td.textContent = text; return td; }
  function addRow(tr, position) {
    const row = tbody.insertRow();
    row.dataset.index = String(tr.i);
    row.dataset.start = String(tr.s);
    cell(row, String(tr.i)); cell(row, formatTime(tr.s)); cell(row, formatTime(tr.e));
    cell(row, tr.bus); cell(row, tr.sel < 0 ? '-' : 'BCM ' + tr.sel); cell(row, tr.text);
    row.addEventListener('click', () => select(position, true));
    rows.push(row);
  }
  data.transactions.head.forEach((tr, i) => addRow(tr, i));
  if (data.transactions.dropped > 0) {
    const row = tbody.insertRow();
    row.className = 'left-out';
    const td = row.insertCell();
    td.colSpan = 6;
    td.textContent = data.transactions.dropped + ' transactions left out here';
  }
  data.transactions.tail.forEach((tr, i) => addRow(tr, data.transactions.head.length + i));
  $('transaction-count').textContent = '(' + (transactions.length + data.transactions.dropped) + ')';

  function select(position, moveView) {
    if (selected >= 0) rows[selected].classList.remove('selected');
    selected = position;
    const tr = transactions[position];
    rows[position].classList.add('selected');
    rows[position].scrollIntoView({ block: 'nearest' });
    showHeaderAt(tr.s);
    if (moveView) {
      const pad = Math.max((tr.e - tr.s) * 0.1, 100);
      setView(tr.s - pad, tr.e + pad);
    } else {
      draw();
    }
  }

  // ---- what happened -----------------------------------------------------------------------------
  const events = [];
  for (const [t, text] of data.notes) events.push([t, 'note', 'diagnostic', text]);
  // A violation's text begins with its time, which its button shows already.
  for (const [t, , text] of data.violations) events.push([t, 'violation', 'timing', text.replace(/^[^:]*: /, '')]);
  for (const frame of shownFrames) events.push([frame.t, 'frame', 'frame', frame.name + ', ' + frame.w + 'x' + frame.h]);
  for (const [t, text] of data.rules) events.push([t, 'rule', 'rule', text]);
  events.sort((a, b) => a[0] - b[0]);
  events.push([data.end, 'ending', 'end', ending || 'the run ended']);
  const list = $('events');
  for (const [t, kind, label, text] of events) {
    const item = document.createElement('li');
    item.className = kind;
    const jump = document.createElement('button');
    jump.type = 'button'; jump.className = 'jump'; jump.textContent = formatTime(t);
    jump.title = 'Show this moment';
    jump.addEventListener('click', () => {
      const span = Math.min(view[1] - view[0], Math.max((runEnd - runStart) / 50, 1000));
      cursor = t;
      setView(t - span / 2, t + span / 2);
      showHeaderAt(t);
    });
    const tag = document.createElement('span');
    tag.className = 'kind'; tag.textContent = label;
    const body = document.createElement('span');
    body.textContent = text;
    item.append(jump, tag, body);
    list.append(item);
  }
  if (data.notes_dropped > 0) {
    const item = document.createElement('li');
    item.textContent = data.notes_dropped + ' more diagnostics left out';
    list.append(item);
  }
  if (data.rules_dropped > 0) {
    const item = document.createElement('li');
    item.textContent = data.rules_dropped + ' more rule firings left out';
    list.append(item);
  }
  for (const [name, count] of data.violation_counts) {
    if (count > 100) {
      const item = document.createElement('li');
      item.textContent = name + ': ' + count + ' violations in all, the first 100 listed';
      list.append(item);
    }
  }

  // ---- the header ---------------------------------------------------------------------------------
  const pinRows = $('pin-header').tBodies[0];
  const pinCells = new Map();  // BCM line -> {fn, level} cells
  function supplyClass(name) { return name === 'GND' ? 'fn-ground' : 'fn-power'; }
  function roleOf(bcm) {
    return [NAMES[bcm], sideNames.get(bcm)].filter(Boolean).join(' ') || (SPI0[bcm] ? 'SPI0 ' + SPI0[bcm] : '');
  }
  for (let r = 0; r < 20; ++r) {
    const row = pinRows.insertRow();
    const left = HEADER[2 * r], right = HEADER[2 * r + 1];
    const side = (entry, physical, mirrored) => {
      const bcm = typeof entry === 'number' ? entry : null;
      const name = cell(row, bcm === null ? entry : 'BCM ' + bcm + (roleOf(bcm) ? ' ' + roleOf(bcm) : ''));
      const fn = cell(row, '');
      const level = cell(row, '');
      level.className = 'level';
      const phys = cell(row, String(physical));
      phys.className = 'phys';
      if (mirrored) { row.append(phys, level, fn, name); }
      if (bcm === null) { name.className = supplyClass(entry); fn.className = supplyClass(entry); }
      else { pinCells.set(bcm, { row, name, fn, level }); level.dataset.bcm = String(bcm); }
    };
    side(left, 2 * r + 1, false);
    side(right, 2 * r + 2, true);
  }

  // The wave a PWM or clock line carries at `t`: its text without the line's name, or ''.
  function waveAt(bcm, t) {
    let text = '';
    for (const [time, pin, wave] of data.waves || []) {
      if (time > t) { break; }
      if (pin === bcm) { text = wave.slice(wave.indexOf(' ') + 1); }
    }
    return text;
  }

  let headerTime = runEnd;
  function showHeaderAt(t) {
    headerTime = Math.max(runStart, Math.min(runEnd, t));
    for (const [bcm, cells] of pinCells) {
      const code = headerTime >= runEnd ? data.functions.end[bcm] : functionAt(bcm, headerTime);
      const level = headerTime >= runEnd ? data.end_levels[bcm] : levelAt(bcm, headerTime);
      const fname = FUNCTIONS[code];
      const cls = code === 0 ? 'fn-input' : code === 1 ? 'fn-output' : 'fn-alt';
      cells.name.className = cls; cells.fn.className = cls;
      const wave = waveAt(bcm, headerTime);
      cells.fn.textContent = wave && code !== 0 && code !== 1 ? fname + ' ' + wave : fname;
      cells.level.dataset.level = level === null ? '' : String(level);
      cells.level.textContent = level === null ? '?' : String(level);
    }
    $('header-time').value = (headerTime / 1e6).toFixed(6);
    $('header-slider').value = String(Math.round((headerTime - runStart) / (runEnd - runStart) * 1000));
    $('header-note').textContent = (headerTime >= runEnd ? 'At the end of the run, ' : 'At ') +
      formatTime(headerTime) + (gap && headerTime > gap.from && headerTime < gap.to
        ? ': inside the stretch the report left out, so levels are unknown (?)' : '');
  }
  $('header-slider').addEventListener('input', (event) => {
    showHeaderAt(runStart + Number(event.target.value) / 1000 * (runEnd - runStart));
  });
  $('header-time').addEventListener('change', (event) => {
    const ms = Number(event.target.value);
    if (Number.isFinite(ms)) { showHeaderAt(ms * 1e6); cursor = headerTime; draw(); }
  });
  $('header-end').addEventListener('click', () => showHeaderAt(runEnd));

  // ---- the page ----------------------------------------------------------------------------------
  $('title').textContent = data.title || 'a run';
  document.title = 'vboard report: ' + (data.title || 'a run');
  $('summary').textContent = 'Simulated time ' + formatTime(runStart) + ' to ' + formatTime(data.end) +
    '; ' + (ending || 'the run ended') + '.';
  if (gap) {
    $('left-out').hidden = false;
    $('left-out').textContent = 'This report keeps the first and the last line changes of the run: ' +
      gap.count + ' changes between ' + formatTime(gap.from) + ' and ' + formatTime(gap.to) +
      ' are left out (shaded grey).';
  }
  setView(runStart, runEnd);
  showHeaderAt(runEnd);
})();

// The live page of `qarn serve`: tags by Server-Sent Events, trends with dygraphs, writes, node
// overrides, traffic and line health through the JSON API.
'use strict';

const TrendMs = 10 * 60 * 1000;
const SparkPoints = 60;
const page = {
  info: null, line: null, tags: [], rows: new Map(), history: new Map(), plotted: new Set(),
  chart: null, paused: false, trafficSeq: 0, events: null,
};

const $ = (id) => document.getElementById(id);
function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === 'class') e.className = v; else e.setAttribute(k, v);
  }
  for (const c of children) e.append(c);
  return e;
}
function url(path, params = {}) {
  const q = new URLSearchParams(params);
  if (page.line && page.info.lines.length > 1) q.set('line', page.line);
  const s = q.toString();
  return s ? `${path}?${s}` : path;
}
async function getJSON(path, params) {
  const r = await fetch(url(path, params));
  const body = await r.json();
  if (!r.ok) throw new Error(body.error || r.statusText);
  return body;
}
async function postJSON(path, body) {
  const headers = { 'Content-Type': 'application/json' };
  const token = $('token').value;
  if (token) { headers.Authorization = `Bearer ${token}`; sessionStorage.setItem('qarnToken', token); }
  const r = await fetch(url(path), { method: 'POST', headers, body: JSON.stringify(body) });
  return { ok: r.ok, status: r.status, body: await r.json() };
}

function valueText(tag) {
  if (tag.error) return `error ${tag.error.code}: ${tag.error.text}`;
  if (tag.value === null || tag.value === undefined) return tag.time ? 'null' : '…';
  return Array.isArray(tag.value) ? tag.value.join(', ') : String(tag.value);
}
function numberOf(value) {
  if (typeof value === 'number') return value;
  if (typeof value === 'boolean') return value ? 1 : 0;
  return null;
}
function ageText(time) {
  if (!time) return '';
  const s = (Date.now() - Date.parse(time)) / 1000;
  if (s < 10) return `${Math.max(0, s).toFixed(1)} s`;
  if (s < 120) return `${Math.round(s)} s`;
  return `${Math.round(s / 60)} min`;
}

// --- live tags ---
function buildTagRows() {
  const body = $('tag-rows');
  body.replaceChildren();
  page.rows.clear();
  for (const tag of page.tags) {
    const plot = el('input', { type: 'checkbox', 'aria-label': `plot ${tag.name}` });
    plot.addEventListener('change', () => {
      if (plot.checked) page.plotted.add(tag.name); else page.plotted.delete(tag.name);
      drawChart();
    });
    const row = {
      plot, value: el('td', { class: 'value' }), age: el('td'),
      spark: document.createElementNS('http://www.w3.org/2000/svg', 'svg'),
    };
    row.spark.setAttribute('class', 'spark');
    row.spark.setAttribute('viewBox', '0 0 120 24');
    row.spark.setAttribute('preserveAspectRatio', 'none');
    const tr = el('tr', { 'data-name': tag.name }, el('td', {}, plot), el('td', {}, tag.name),
      el('td', { class: 'wide muted' }, tag.tag), row.value, row.age, el('td', { class: 'wide' }, row.spark));
    body.append(tr);
    page.rows.set(tag.name, row);
  }
}
function record(tag) {
  const n = tag.error ? null : numberOf(tag.value);
  if (n === null || !tag.time) return;
  const t = Date.parse(tag.time);
  let h = page.history.get(tag.name);
  if (!h) { h = []; page.history.set(tag.name, h); }
  if (h.length && h[h.length - 1][0] >= t) return;
  h.push([t, n]);
  while (h.length && h[0][0] < t - TrendMs) h.shift();
}
function showTags(tags) {
  page.tags = tags;
  for (const tag of tags) {
    record(tag);
    const row = page.rows.get(tag.name);
    if (!row) continue;
    row.value.textContent = valueText(tag);
    row.value.classList.toggle('bad', !!tag.error);
    row.value.dataset.time = tag.time || '';
    row.age.textContent = ageText(tag.time);
    drawSpark(row.spark, page.history.get(tag.name) || []);
    row.plot.disabled = !page.history.has(tag.name);
  }
  drawChart();
}
function drawSpark(svg, history) {
  const pts = history.slice(-SparkPoints);
  svg.replaceChildren();
  if (pts.length < 2) return;
  const t0 = pts[0][0], t1 = pts[pts.length - 1][0];
  let lo = Math.min(...pts.map((p) => p[1])), hi = Math.max(...pts.map((p) => p[1]));
  if (hi === lo) { hi += 1; lo -= 1; }
  const line = document.createElementNS('http://www.w3.org/2000/svg', 'polyline');
  line.setAttribute('points', pts.map(([t, v]) =>
    `${((t - t0) / Math.max(1, t1 - t0) * 118 + 1).toFixed(1)},${(22 - (v - lo) / (hi - lo) * 20).toFixed(1)}`).join(' '));
  svg.append(line);
}
function tickAges() {
  for (const row of page.rows.values()) row.age.textContent = ageText(row.value.dataset.time);
}

// --- trend ---
function drawChart() {
  const names = [...page.plotted].filter((n) => page.history.has(n));
  $('chart-empty').hidden = names.length > 0;
  if (!names.length) {
    if (page.chart) { page.chart.destroy(); page.chart = null; }
    return;
  }
  // One row per time stamp; a tag read at another moment leaves a gap that the line bridges.
  const byTime = new Map();
  names.forEach((name, i) => {
    for (const [t, v] of page.history.get(name)) {
      if (!byTime.has(t)) byTime.set(t, [new Date(t), ...names.map(() => null)]);
      byTime.get(t)[i + 1] = v;
    }
  });
  const data = [...byTime.keys()].sort((a, b) => a - b).map((t) => byTime.get(t));
  const options = { file: data, labels: ['time', ...names] };
  if (page.chart && page.chart.getLabels().join() === options.labels.join()) {
    page.chart.updateOptions({ file: data });
    return;
  }
  if (page.chart) page.chart.destroy();
  page.chart = new Dygraph($('chart'), data, {
    labels: options.labels, connectSeparatedPoints: true, legend: 'always', drawPoints: true,
    pointSize: 1.5, strokeWidth: 1.5, axes: { x: { axisLabelWidth: 70, pixelsPerLabel: 90 } },
  });
}

// --- writes ---
function buildWrites() {
  const body = $('write-rows');
  body.replaceChildren();
  for (const tag of page.tags.filter((t) => t.writable)) {
    const input = el('input', { 'aria-label': `new value of ${tag.name}`, name: tag.name });
    const result = el('span');
    const button = el('button', { type: 'button' }, 'Write');
    const write = async () => {
      result.textContent = '…';
      result.className = 'muted';
      let value = input.value.trim();
      // Numbers and booleans go as JSON; the server's codec takes the rest as text.
      try { const j = JSON.parse(value); if (typeof j !== 'object' || Array.isArray(j)) value = j; } catch (e) { /* text */ }
      try {
        const r = await postJSON(`/api/tags/${encodeURIComponent(tag.name)}`, { value });
        result.className = r.ok ? 'good' : 'bad';
        result.textContent = r.ok ? `wrote ${JSON.stringify(r.body.written)}, read back ${valueText(r.body)}`
          : `${r.status}: ${r.body.error}`;
      } catch (e) { result.className = 'bad'; result.textContent = e.message; }
    };
    button.addEventListener('click', write);
    input.addEventListener('keydown', (e) => { if (e.key === 'Enter') write(); });
    body.append(el('tr', { 'data-name': tag.name }, el('td', {}, tag.name), el('td', { class: 'muted' }, tag.type),
      el('td', {}, input), el('td', {}, button), el('td', {}, result)));
  }
}

// --- node overrides ---
async function loadOverrides() {
  const body = $('override-rows');
  try {
    showOverrides(await getJSON('/api/overrides'));
  } catch (e) {
    body.replaceChildren(el('tr', {}, el('td', { class: 'bad', colspan: 2 }, e.message)));
  }
}
function showOverrides(r) {
  const body = $('override-rows');
  body.replaceChildren(...r.overrides.map((o) => el('tr', {}, el('td', {}, String(o.node)), el('td', {}, String(o.target)))));
  if (!r.overrides.length) body.append(el('tr', {}, el('td', { class: 'muted', colspan: 2 }, 'none: every node answers as configured')));
  $('override-notes').textContent = r.notes.join(' ');
}
async function setId(event) {
  event.preventDefault();
  const out = $('setid-result');
  const r = await postJSON('/api/overrides', { node: Number($('setid-node').value), target: Number($('setid-target').value) });
  out.className = r.ok ? 'good' : 'bad';
  out.textContent = r.ok ? (r.body.reply || 'done').trim() : `${r.status}: ${r.body.error}`;
  if (r.ok) showOverrides(r.body);
}

// --- traffic ---
async function pollTraffic() {
  if (page.paused) return;
  try {
    const r = await getJSON('/api/traffic', { since: page.trafficSeq });
    page.trafficSeq = r.last;
    const body = $('traffic-rows');
    for (const f of r.frames) {
      body.prepend(el('tr', { class: f.dir === 'RX' ? '' : 'muted' }, el('td', {}, f.time.slice(11, 23)),
        el('td', {}, f.dir), el('td', {}, f.text), el('td', { class: 'wide' }, f.hex)));
    }
    while (body.rows.length > 200) body.deleteRow(-1);
  } catch (e) { /* the next poll tries again */ }
}

// --- health ---
function showHealth(h) {
  const status = $('status');
  status.textContent = h.up ? 'line up' : 'line down';
  status.className = `pill ${h.up ? 'up' : 'down'}`;
  status.title = h.problem || '';
  const failures = Object.entries(h.failures).map(([k, n]) => `${k} ${n}`).join(', ') || 'none';
  const ms = (v) => `${v.toFixed(1)} ms`;
  const items = [['Cycles', h.cycles], ['Requests', h.requests], ['Failed', h.failed_requests],
    ['Failures by kind', failures],
    ['Cycle time', `last ${ms(h.cycle_ms.last)}, median ${ms(h.cycle_ms.median)}, max ${ms(h.cycle_ms.max)}`]];
  if (h.problem) items.push(['Problem', h.problem]);
  $('health-list').replaceChildren(...items.flatMap(([k, v]) => [el('dt', {}, k), el('dd', {}, String(v))]));
}
async function runDoctor() {
  const out = $('doctor-out');
  out.hidden = false;
  out.textContent = 'running…';
  try {
    const r = await getJSON('/api/doctor');
    out.textContent = r.rows.map((row) => `${row.item}: ${row.value}${row.note ? `  (${row.note})` : ''}`).join('\n');
  } catch (e) { out.textContent = e.message; }
}

// --- start ---
function connect() {
  if (page.events) page.events.close();
  page.events = new EventSource(url('/api/events'));
  page.events.onmessage = (e) => {
    const d = JSON.parse(e.data);
    showTags(d.tags);
    showHealth(d.health);
  };
  page.events.onerror = () => { $('status').textContent = 'reconnecting'; $('status').className = 'pill'; };
}
async function loadLine() {
  page.history.clear();
  page.plotted.clear();
  const trends = await getJSON('/api/trends');
  for (const [name, points] of Object.entries(trends)) page.history.set(name, points);
  page.tags = await getJSON('/api/tags');
  buildTagRows();
  showTags(page.tags);
  showHealth(await getJSON('/api/health'));
  if (page.info.writes) buildWrites();
  page.trafficSeq = 0;
  $('traffic-rows').replaceChildren();
  loadOverrides();
  connect();
}
async function start() {
  page.info = await getJSON('/api/info');
  page.line = page.info.lines[0];
  const select = $('line');
  if (page.info.lines.length > 1) {
    select.hidden = false;
    select.replaceChildren(...page.info.lines.map((n) => el('option', { value: n }, n)));
    select.addEventListener('change', () => { page.line = select.value; loadLine(); });
  }
  $('writes').hidden = !page.info.writes;
  $('nav-writes').hidden = !page.info.writes;
  $('setid').hidden = !page.info.writes;
  $('token-row').hidden = !page.info.token_required;
  $('token').value = sessionStorage.getItem('qarnToken') || '';
  $('setid').addEventListener('submit', setId);
  $('overrides-refresh').addEventListener('click', loadOverrides);
  $('doctor').addEventListener('click', runDoctor);
  $('pause').addEventListener('click', () => {
    page.paused = !page.paused;
    $('pause').textContent = page.paused ? 'Resume' : 'Pause';
  });
  await loadLine();
  if (page.info.mqtt) {
    // The gateway's broker connection, refreshed with the info.
    const showBroker = (info) => {
      const pill = $('mqtt');
      pill.hidden = false;
      pill.textContent = 'MQTT ' + (info.mqtt.connected ? 'connected' : 'disconnected');
    };
    showBroker(page.info);
    setInterval(async () => showBroker(await getJSON('/api/info')), 5000);
  }
  setInterval(tickAges, 1000);
  setInterval(pollTraffic, 1000);
}
start().catch((e) => { $('status').textContent = e.message; $('status').className = 'pill down'; });

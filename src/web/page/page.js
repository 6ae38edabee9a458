'use strict';
// The page: the values, the nodes and the monitor fetched again after each
// cycle that the event stream announces; the trend from the history.

const byId = (id) => document.getElementById(id);
const svgNs = 'http://www.w3.org/2000/svg';
const monitorLines = 200;
let monitorLast = 0;

const qualityText = {
  failed: 'lettura fallita', no_value: 'senza valore', not_finite: 'non finito', skipped: 'saltata',
  not_read: 'non letta',
};
const localTime = (iso) => (iso ? new Date(iso).toLocaleString('it-IT') : '-');

function row(cells, className) {
  const tr = document.createElement('tr');
  if (className) tr.className = className;
  for (const [text, cls] of cells) {
    const td = document.createElement('td');
    td.textContent = text;
    if (cls) td.className = cls;
    tr.appendChild(td);
  }
  return tr;
}

async function getJson(path) {
  const answer = await fetch(path, { cache: 'no-store' });
  if (!answer.ok) throw new Error(path + ': ' + answer.status);
  return answer.json();
}

function showValues(v) {
  const section = byId('devices');
  section.replaceChildren();
  for (const d of v.devices) {
    const h = document.createElement('h2');
    h.textContent = 'Dispositivo ' + d.device;
    const table = document.createElement('table');
    table.dataset.device = d.device;
    const head = document.createElement('tr');
    for (const title of ['Nome', 'Valore', 'Unità', 'Ultima lettura buona']) {
      const th = document.createElement('th');
      th.textContent = title;
      head.appendChild(th);
    }
    table.appendChild(head);
    for (const name of Object.keys(d.values)) {
      const value = d.values[name];
      const good = d.quality[name] === 'good';
      const tr = row([[name, 'name'], [value === null ? '(' + qualityText[d.quality[name]] + ')' : String(value), 'value'],
        [d.units[name], 'unit'], [localTime(d.last_good[name]), 'time']], good ? '' : 'bad');
      tr.dataset.name = name;
      table.appendChild(tr);
    }
    section.append(h, table);
  }
  byId('state').textContent = 'Ciclo ' + v.cycle + ' delle ' + localTime(v.time) + ', durata ' + v.duration_ms + ' ms';
  byId('state').className = '';
}

function showHealth(h) {
  const body = byId('nodes').tBodies[0];
  body.replaceChildren();
  for (const n of h.nodes) {
    const exceptions = Object.entries(n.exceptions).map(([code, count]) => code + ':' + count).join(' ') || '-';
    const bad = n.requests > 0 && n.good === 0;
    body.appendChild(row([[n.node], [n.requests], [n.good], [n.timeouts], [n.crc_errors], [n.wrong_answers],
      [exceptions], [n.skipped], [n.median_ms === null ? '-' : n.median_ms], [localTime(n.last_good)]], bad ? 'bad' : ''));
  }
}

function showMonitor(m) {
  const pre = byId('monitor');
  for (const f of m.frames) {
    if (f.tx) {
      const tx = document.createElement('div');
      tx.textContent = 'TX ' + f.tx;
      pre.appendChild(tx);
    }
    const rx = document.createElement('div');
    rx.className = 'rx';
    rx.textContent = 'RX ' + f.rx;
    pre.appendChild(rx);
  }
  while (pre.childElementCount > monitorLines) pre.firstElementChild.remove();
  monitorLast = m.last;
  pre.scrollTop = pre.scrollHeight;
}

async function refresh() {
  try {
    const [values, health, monitor] = await Promise.all([getJson('api/values'), getJson('api/health'),
      getJson('api/monitor?since=' + monitorLast)]);
    showValues(values);
    showHealth(health);
    showMonitor(monitor);
    if (!trendReady) await setUpTrend();
    else refreshTrend(false);
  } catch (e) {
    byId('state').textContent = 'Errore: ' + e.message;
  }
}

// --- The trend -----------------------------------------------------------

let trendAsked = 0;
let trendReady = false;

function svg(tag, attributes, text) {
  const e = document.createElementNS(svgNs, tag);
  for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, v);
  if (text !== undefined) e.textContent = text;
  return e;
}

function drawTrend(t) {
  const chart = byId('chart');
  chart.replaceChildren();
  const values = t.points.filter((p) => p[1] !== null).map((p) => p[1]);
  const end = Date.now();
  const start = end - t.seconds * 1000;
  if (values.length === 0) {
    chart.appendChild(svg('text', { x: 240, y: 120 }, 'Nessun dato'));
    return;
  }
  let low = Math.min(...values);
  let high = Math.max(...values);
  if (low === high) { low -= 1; high += 1; }
  const x = (ms) => 50 + ((ms - start) / (end - start)) * 580;
  const y = (v) => 220 - ((v - low) / (high - low)) * 200;
  chart.append(svg('line', { x1: 50, y1: 20, x2: 50, y2: 220 }), svg('line', { x1: 50, y1: 220, x2: 630, y2: 220 }),
    svg('text', { x: 2, y: 24 }, String(+high.toPrecision(6))), svg('text', { x: 2, y: 220 }, String(+low.toPrecision(6))),
    svg('text', { x: 50, y: 236 }, localTime(new Date(start).toISOString())),
    svg('text', { x: 500, y: 236 }, localTime(new Date(end).toISOString())));
  let points = [];
  const flush = () => {
    if (points.length) chart.appendChild(svg('polyline', { points: points.join(' ') }));
    points = [];
  };
  for (const [ms, v] of t.points) {
    if (v === null) { flush(); continue; }
    points.push(x(ms).toFixed(1) + ',' + y(v).toFixed(1));
  }
  flush();
  chart.dataset.points = values.length;
}

async function refreshTrend(now) {
  const name = byId('trend-name').value;
  const span = document.querySelector('input[name=span]:checked').value;
  // The hour follows every cycle; a day or a week once a minute.
  if (!name || (!now && span !== 'hour' && Date.now() - trendAsked < 60000)) return;
  trendAsked = Date.now();
  try {
    drawTrend(await getJson('api/trend?name=' + encodeURIComponent(name) + '&span=' + span));
  } catch (e) {
    byId('chart').replaceChildren(svg('text', { x: 200, y: 120 }, 'Errore: ' + e.message));
  }
}

async function setUpTrend() {
  const t = await getJson('api/trend');
  if (!t.history || t.names.length === 0) return;
  trendReady = true;
  const select = byId('trend-name');
  for (const name of t.names) select.appendChild(new Option(name, name));
  byId('trend').hidden = false;
  byId('trend-form').addEventListener('change', () => refreshTrend(true));
  refreshTrend(true);
}

const events = new EventSource('api/events');
events.onmessage = refresh;
events.onerror = () => {
  byId('state').textContent = 'Connessione persa: riprovo...';
  byId('state').className = 'lost';
};

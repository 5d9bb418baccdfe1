// The agent's dashboard: reads the operator API of the agent that serves it
// and draws four views. Every value from the agent is untrusted text: it is
// only ever set as textContent or an attribute value, never parsed as HTML.
'use strict';

const REFRESH_MS = 5000;
const API = '/api/v1';
const state = {view: 'overview', subnode: '', sort: {}, events: [], lastEvent: 0,
               history: true, busy: false, again: false};

// ---- small helpers --------------------------------------------------------

// Creates an element; `attrs` are attribute values, children are nodes or text.
function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
  for (const c of children) e.append(c instanceof Node ? c : String(c ?? ''));
  return e;
}
const $ = (id) => document.getElementById(id);

function svg(tag, attrs, text) {
  const e = document.createElementNS('http://www.w3.org/2000/svg', tag);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
  if (text !== undefined) e.textContent = text;
  return e;
}

// "CYYMMDDHHMMSSmmm" (UTC, century digit 1 for 20xx) to a Date; null if not one.
function parseStamp(s) {
  const m = /^([01])(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)(\d\d\d)$/.exec(String(s));
  if (!m) return null;
  const n = m.slice(1).map(Number);
  return new Date(Date.UTC(1900 + 100 * n[0] + n[1], n[2] - 1, n[3], n[4], n[5], n[6], n[7]));
}

// A <time> in local time with the ISO 8601 form on hover.
function timeEl(date) {
  if (!date || isNaN(date)) return el('span', {}, '–');
  return el('time', {datetime: date.toISOString(), title: date.toISOString()},
            date.toLocaleString());
}

const numberFormat = new Intl.NumberFormat(undefined, {maximumFractionDigits: 1});
function num(v, unit) {
  if (v === null || v === undefined || Number.isNaN(v)) return '–';
  return numberFormat.format(v) + (unit ? ' ' + unit : '');
}
function bytes(v) {
  if (v === null || v === undefined || v < 0) return '–';
  return v >= 1048576 ? num(v / 1048576, 'MiB') : v >= 1024 ? num(v / 1024, 'KiB') : num(v, 'B');
}
function duration(seconds) {
  const s = Math.max(0, Math.floor(seconds));
  const d = Math.floor(s / 86400), h = Math.floor(s / 3600) % 24, m = Math.floor(s / 60) % 60;
  if (d) return `${d} d ${h} h`;
  if (h) return `${h} h ${m} min`;
  return m ? `${m} min ${s % 60} s` : `${s} s`;
}

// ---- the API --------------------------------------------------------------

async function getJson(path) {
  const res = await fetch(path, {headers: {Accept: 'application/json'}});
  if (!res.ok) throw Object.assign(new Error(`${path}: HTTP ${res.status}`), {status: res.status});
  return res.json();
}
async function rows(table, query) {
  return (await getJson(`${API}/tables/${table}${query ? '?' + query : ''}`)).rows;
}
const subnodeQuery = (name) => 'subnode=' + encodeURIComponent(name);

// Asks for the bearer token once; it stays in this tab's session storage only.
function askToken() {
  const form = $('token-form');
  form.hidden = false;
  $('token-input').focus();
  return new Promise((resolve) => {
    form.onsubmit = (ev) => {
      ev.preventDefault();
      sessionStorage.setItem('zepToken', $('token-input').value);
      form.hidden = true;
      form.reset();
      resolve(true);
    };
    $('token-cancel').onclick = () => { form.hidden = true; resolve(false); };
  });
}

// A request that changes something: with the token, asked for on a 401.
async function change(method, path, body) {
  for (;;) {
    const headers = {'Content-Type': 'application/json'};
    const token = sessionStorage.getItem('zepToken');
    if (token) headers.Authorization = 'Bearer ' + token;
    const res = await fetch(path, {method, headers, body: body && JSON.stringify(body)});
    const answer = await res.json().catch(() => ({}));
    if (res.status !== 401) return {status: res.status, answer};
    sessionStorage.removeItem('zepToken');
    if (!(await askToken())) return {status: 401, answer};
  }
}

// ---- sortable tables ------------------------------------------------------

// Runs `render`, then gives the focus back to the element that stands for the
// one that had it (same data-focus), so that a refresh never takes a
// keyboard user's place away.
async function keepFocus(render) {
  const key = document.activeElement?.dataset?.focus;
  await render();
  const lost = !document.activeElement || document.activeElement === document.body;
  if (key && lost) document.querySelector(`[data-focus="${CSS.escape(key)}"]`)?.focus();
}

// Fills `table` from `data` with `columns` [{key, label, show(row) -> text|node, num}].
// A header button sorts by its column; the choice survives refreshes.
function fillTable(table, columns, data, emptyText) {
  const sort = state.sort[table.id] || {key: columns[0].key, dir: 1};
  const col = columns.find((c) => c.key === sort.key) || columns[0];
  const value = (r) => col.value ? col.value(r) : r[col.key];
  const sorted = [...data].sort((a, b) => {
    const x = value(a), y = value(b);
    return sort.dir * (typeof x === 'number' && typeof y === 'number' ? x - y
                       : String(x).localeCompare(String(y)));
  });
  const head = el('tr', {});
  for (const c of columns) {
    const th = el('th', {scope: 'col', class: c.num ? 'num' : ''});
    if (c.key === sort.key) th.setAttribute('aria-sort', sort.dir > 0 ? 'ascending' : 'descending');
    const b = el('button', {type: 'button', 'data-focus': `sort:${table.id}:${c.key}`}, c.label);
    b.onclick = () => {
      state.sort[table.id] = {key: c.key, dir: c.key === sort.key ? -sort.dir : 1};
      keepFocus(() => fillTable(table, columns, data, emptyText));
    };
    th.append(b);
    head.append(th);
  }
  const body = el('tbody', {});
  for (const r of sorted) {
    body.append(el('tr', {}, ...columns.map((c) =>
      el('td', {class: c.num ? 'num' : ''}, c.show ? c.show(r) : r[c.key]))));
  }
  if (!sorted.length) body.append(el('tr', {}, el('td', {colspan: columns.length}, emptyText)));
  table.replaceChildren(el('thead', {}, head), body);
}

// ---- windows of the inventory -------------------------------------------

// Groups ZEPINV rows by subnode; for each, the rows of its latest window
// ("current") and of the one before ("last").
function windows(inv) {
  const by = new Map();
  for (const r of inv) {
    if (!by.has(r.ORIGINNODE)) by.set(r.ORIGINNODE, []);
    by.get(r.ORIGINNODE).push(r);
  }
  const out = new Map();
  for (const [node, list] of by) {
    const begins = [...new Set(list.map((r) => r.INTBEGTIME))].sort().reverse();
    out.set(node, {current: list.filter((r) => r.INTBEGTIME === begins[0]),
                   last: list.filter((r) => r.INTBEGTIME === begins[1])});
  }
  return out;
}
function totals(list) {
  let msgs = 0, faults = 0, timed = 0, etime = 0;
  for (const r of list) {
    msgs += r.MSGCOUNT; faults += r.FLTCOUNT;
    timed += r.ETMSGCOUNT; etime += r.AVGETIME * r.ETMSGCOUNT;
  }
  return {msgs, faults, avg: timed ? etime / timed : null};
}

// ---- Prometheus text ------------------------------------------------------

// Sums the samples of each metric name in a text exposition.
function metricSums(text) {
  const sums = {};
  for (const line of text.split('\n')) {
    const m = /^([a-z_:]+)(\{[^}]*\})? ([-+0-9.eEInfNa]+)/.exec(line);
    if (m) sums[m[1]] = (sums[m[1]] || 0) + Number(m[3]);
  }
  return sums;
}

// ---- views ----------------------------------------------------------------

const HEALTH_METRICS = '/metrics?' + ['zep_lag_seconds', 'zep_records_dropped_total',
  'zep_history_rows_pending', 'zep_history_rows_failed_total'].map((n) => 'name=' + n).join('&');

async function showOverview() {
  const [agent, metrics, inv] = await Promise.all([
    getJson(`${API}/agent`), fetch(HEALTH_METRICS).then((r) => r.text()), rows('ZEPINV')]);
  const up = Date.now() / 1000 - agent.startTime;
  $('agent-info').replaceChildren(
    el('dt', {}, 'Node'), el('dd', {}, agent.originnode),
    el('dt', {}, 'Product'), el('dd', {}, `${agent.product} ${agent.version}`),
    el('dt', {}, 'Host'), el('dd', {}, agent.hostname),
    el('dt', {}, 'Started'), el('dd', {}, timeEl(new Date(agent.startTime * 1000))),
    el('dt', {}, 'Up'), el('dd', {}, duration(up)));
  const m = metricSums(metrics);
  const failing = m.zep_history_rows_failed_total || 0;
  $('health').replaceChildren(
    el('dt', {}, 'Lag'), el('dd', {}, num(m.zep_lag_seconds || 0, 's')),
    el('dt', {}, 'Records dropped'), el('dd', {}, num(m.zep_records_dropped_total || 0)),
    el('dt', {}, 'History pending'), el('dd', {}, num(m.zep_history_rows_pending || 0, 'rows')),
    el('dt', {}, 'History failed'),
    el('dd', {class: failing ? 'bad' : ''}, num(failing, 'rows')));
  const win = windows(inv);
  const data = agent.subnodes.map((s) => ({name: s.name,
                                          ...totals(win.get(s.name)?.current || [])}));
  fillTable($('subnodes-table'), [
    {key: 'name', label: 'Subnode', show: (r) => {
      const a = el('a', {href: '#subnode', 'data-focus': 'node:' + r.name}, r.name);
      a.onclick = () => { state.subnode = r.name; };
      return a;
    }},
    {key: 'msgs', label: 'Messages', num: true, show: (r) => num(r.msgs)},
    {key: 'faults', label: 'Faults', num: true, show: (r) => num(r.faults)},
    {key: 'avg', label: 'Avg elapsed', num: true, value: (r) => r.avg ?? -1,
     show: (r) => num(r.avg, 'ms')},
  ], data, 'No subnode yet: no data collector has written a file.');
  return agent;
}

// The operation column of every table of operations.
const OP_COLUMN = {key: 'op', label: 'Operation', value: (r) => `${r.PORTNAME}.${r.OPNAME}`,
   show: (r) => `${r.PORTNAME}.${r.OPNAME}`};

const STAT_COLUMNS = [
  OP_COLUMN,
  {key: 'SVCTYPE', label: 'Role', show: (r) => (r.SVCTYPE === 0 ? 'requester' : 'provider')},
  {key: 'MSGCOUNT', label: 'Count', num: true, show: (r) => num(r.MSGCOUNT)},
  ...['AVGETIME', 'MINETIME', 'MAXETIME', 'SDETIME'].map((k, i) => ({
    key: k, label: ['Avg', 'Min', 'Max', 'SD'][i] + ' elapsed', num: true,
    show: (r) => (r[k] < 0 ? '–' : num(r[k], 'ms'))})),   // -1: no timed message
  ...['AVGMSGLEN', 'MINMSGLEN', 'MAXMSGLEN', 'SDMSGLEN'].map((k, i) => ({
    key: k, label: ['Avg', 'Min', 'Max', 'SD'][i] + ' length', num: true,
    show: (r) => bytes(r[k])})),
  {key: 'FLTCOUNT', label: 'Faults', num: true, show: (r) => num(r.FLTCOUNT)},
];

// Records of the subnode over time: from the history route while it
// answers with rows, else the records the agent holds in memory.
async function records(node) {
  if (state.history) {
    const from = Math.floor(Date.now() / 1000) - 3600;
    try {
      const h = await getJson(`${API}/history/ZEPSMT?${subnodeQuery(node)}&from=${from}`);
      if (h.rows.length) {
        $('chart-source').textContent = '(history, last hour)';
        return h.rows;
      }
    } catch (e) {
      if (e.status === 404 || e.status === 503) state.history = false;  // asked again on reload
    }
  }
  $('chart-source').textContent = '(records held in memory)';
  return rows('ZEPSMT', subnodeQuery(node));
}

async function showSubnode(agent) {
  const select = $('subnode-select');
  const names = agent.subnodes.map((s) => s.name);
  if (!names.includes(state.subnode)) state.subnode = names[0] || '';
  if ([...select.options].map((o) => o.value).join('\n') !== names.join('\n')) {
    select.replaceChildren(...names.map((n) => el('option', {value: n}, n)));
  }
  select.value = state.subnode;
  if (!state.subnode) return;
  const q = subnodeQuery(state.subnode);
  const [inv, recs, faults] = await Promise.all([rows('ZEPINV', q), records(state.subnode),
                                                 rows('ZEPFLCT', q)]);
  const which = document.querySelector('input[name=window]:checked').value;
  const list = windows(inv).get(state.subnode)?.[which] || [];
  const w = $('window-times');
  w.replaceChildren();
  if (list.length) {
    w.append('from ', timeEl(parseStamp(list[0].INTBEGTIME)), ' to ',
             timeEl(parseStamp(list[0].INTENDTIME)));
  }
  fillTable($('operations-table'), STAT_COLUMNS, list, 'No window here yet.');
  drawCharts(recs);
  if (!state.sort['faults-table']) state.sort['faults-table'] = {key: 'MSGTIME', dir: -1};
  const latest = [...faults].sort((a, b) => (a.MSGTIME < b.MSGTIME ? 1 : -1)).slice(0, 50);
  fillTable($('faults-table'), [
    {key: 'MSGTIME', label: 'Time', show: (r) => timeEl(parseStamp(r.MSGTIME))},
    OP_COLUMN,
    {key: 'FLTCODE', label: 'Fault code'},
    {key: 'FLTSTR', label: 'Fault string'},
  ], latest, 'No fault held.');
}

// ---- charts ---------------------------------------------------------------

const COLOURS = ['#1f77b4', '#d62728', '#2ca02c', '#9467bd', '#ff7f0e', '#17becf',
                 '#8c564b', '#e377c2'];

// Buckets records per operation over time (at most 40 buckets) and draws
// rate and average elapsed time, one line with points per operation (the
// 8 busiest).
function drawCharts(recs) {
  const points = recs.map((r) => ({t: parseStamp(r.MSGTIME)?.getTime(),
                                   op: `${r.PORTNAME}.${r.OPNAME}`, e: r.ELPSDTIME}))
    .filter((p) => p.t !== undefined);
  const t0 = Math.min(...points.map((p) => p.t)), t1 = Math.max(...points.map((p) => p.t));
  const steps = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600].map((s) => s * 1000);
  const width = steps.find((s) => (t1 - t0) / s <= 40) || 3600000;
  const series = new Map();
  for (const p of points) {
    if (!series.has(p.op)) series.set(p.op, new Map());
    const b = Math.floor(p.t / width) * width;
    const cell = series.get(p.op).get(b) || {n: 0, timed: 0, sum: 0};
    cell.n++;
    if (p.e >= 0) { cell.timed++; cell.sum += p.e; }
    series.get(p.op).set(b, cell);
  }
  const busiest = [...series].sort((a, b) => b[1].size - a[1].size).slice(0, 8);
  const lines = (f) => busiest.map(([op, cells], i) => ({
    op, colour: COLOURS[i],
    pts: [...cells].sort((a, b) => a[0] - b[0]).map(([t, c]) => [t, f(c)])
      .filter((p) => p[1] !== null)}));
  chart($('chart-rate'), lines((c) => c.n / (width / 1000)), 'msg/s');
  chart($('chart-elapsed'), lines((c) => (c.timed ? c.sum / c.timed : null)), 'ms');
}

function chart(box, lines, unit) {
  const W = 560, H = 220, L = 70, R = 10, T = 10, B = 40;
  const all = lines.flatMap((l) => l.pts);
  const s = svg('svg', {viewBox: `0 0 ${W} ${H}`, role: 'img',
                        'aria-label': `${lines.length} series in ${unit}`});
  if (!all.length) {
    s.append(svg('text', {x: W / 2, y: H / 2, 'text-anchor': 'middle'}, 'no records yet'));
    box.replaceChildren(s);
    return;
  }
  const tMin = Math.min(...all.map((p) => p[0])), tMax = Math.max(...all.map((p) => p[0]));
  const yMax = Math.max(...all.map((p) => p[1])) * 1.1 || 1;
  const x = (t) => L + (tMax === tMin ? (W - L - R) / 2 : (t - tMin) / (tMax - tMin) * (W - L - R));
  const y = (v) => H - B - v / yMax * (H - T - B);
  s.append(svg('path', {class: 'axis', d: `M${L},${T}V${H - B}H${W - R}`}));
  for (const v of [0, yMax / 2, yMax]) {
    s.append(svg('text', {x: L - 4, y: y(v) + 4, 'text-anchor': 'end'}, num(v, unit)));
  }
  for (const t of tMax === tMin ? [tMin] : [tMin, tMax]) {
    s.append(svg('text', {x: x(t), y: H - B + 16, 'text-anchor': t === tMin ? 'start' : 'end'},
                 new Date(t).toLocaleTimeString()));
  }
  lines.forEach((l, i) => {
    const g = svg('g', {stroke: l.colour, fill: l.colour});
    const path = l.pts.map((p) => `${x(p[0])},${y(p[1])}`).join(' ');
    g.append(svg('polyline', {fill: 'none', points: path}));
    for (const p of l.pts) {
      const c = svg('circle', {cx: x(p[0]), cy: y(p[1]), r: 3});
      c.append(svg('title', {}, `${l.op} ${new Date(p[0]).toISOString()}: ${num(p[1], unit)}`));
      g.append(c);
    }
    g.append(svg('text', {x: L + 4 + (i % 4) * 125, y: H - 4 - (i < 4 ? 10 : 0), stroke: 'none',
                          class: 'legend'}, l.op.slice(0, 22)));
    s.append(g);
  });
  box.replaceChildren(s);
}

// ---- situations -------------------------------------------------------------

async function showSituations() {
  const [list, ev] = await Promise.all([getJson(`${API}/situations`),
                                        getJson(`${API}/events?since=${state.lastEvent}`)]);
  for (const e of ev.events) state.lastEvent = Math.max(state.lastEvent, e.id);
  state.events = [...ev.events.reverse(), ...state.events].slice(0, 200);
  const cond = (s) => s.conditions.map((c) => `${c.attribute} ${c.op} ${c.value}`).join(', ');
  fillTable($('situations-table'), [
    {key: 'name', label: 'Situation'},
    {key: 'state', label: 'State', show: (s) => el('span', {class: 'state ' + s.state}, s.state)},
    {key: 'lastChange', label: 'Since', value: (s) => s.lastChange || 0,
     show: (s) => (s.lastChange ? timeEl(new Date(s.lastChange * 1000)) : '–')},
    {key: 'cond', label: 'Conditions', value: cond, show: cond},
    {key: 'del', label: '', value: () => 0, show: (s) => {
      const b = el('button', {type: 'button', class: 'danger', 'data-focus': 'del:' + s.name},
                   'Delete');
      b.setAttribute('aria-label', 'Delete ' + s.name);
      b.onclick = async () => {
        const r = await change('DELETE', `${API}/situations/${encodeURIComponent(s.name)}`);
        $('situation-answer').textContent = r.status === 200 ? `${s.name} deleted`
          : `not deleted: ${r.answer.error || r.status}`;
        refresh();
      };
      return b;
    }},
  ], list.situations, 'No situation.');
  $('events').replaceChildren(...state.events.map((e) => el('li', {class: e.state},
    timeEl(new Date(e.time * 1000)), ' ', el('strong', {}, e.situation), ' ',
    el('span', {class: 'state ' + e.state}, e.state), ' ',
    [e.row.ORIGINNODE, e.row.PORTNAME, e.row.MSGCNT !== undefined ? `${e.row.MSGCNT} messages` : '']
      .filter(Boolean).join(' · '))));
  if (!state.events.length) $('events').append(el('li', {}, 'No event yet.'));
}

$('situation-form').onsubmit = async (ev) => {
  ev.preventDefault();
  const f = Object.fromEntries(new FormData(ev.target));
  const conditions = [
    {attribute: 'RMIPADDR', op: '=', value: f.address},
    {attribute: 'PORTNAME', op: '=', value: f.port},
    ...(f.operation ? [{attribute: 'OPNAME', op: '=', value: f.operation}] : []),
    {attribute: 'TMINT', op: '=', value: Number(f.interval)},
    {attribute: 'MSGCNT', op: '>=', value: Number(f.limit)}];
  const r = await change('POST', `${API}/situations`,
                         {name: f.name, table: 'ZEPMATT', interval: 30, conditions});
  $('situation-answer').textContent = r.status === 201 ? `${f.name} created`
    : `not created: ${r.answer.error || r.status}`;
  refresh();
};

// ---- configuration -----------------------------------------------------------

// Groups the configuration rows by data collector (server and host).
async function showConfig() {
  const [dct, dcmt, fct] = await Promise.all([rows('ZEPDCT'), rows('ZEPDCMT'), rows('ZEPFCT')]);
  const key = (r) => `${r.APPSRVNM} (${r.HOSTNAME})`;
  const collectors = [...new Set([...dct, ...dcmt, ...fct].map(key))].sort();
  const onOff = (k, label) => ({key: k, label, show: (r) => (r[k] ? 'on' : 'off')});
  const parts = [
    ['Global settings (ZEPDCT)', dct, [onOff('DCONOFF', 'Monitoring'), onOff('TRCONOFF', 'Tracing'),
      {key: 'LOGLEVEL', label: 'Log level', num: true},
      {key: 'APPSRVENV', label: 'Environment', num: true}], 'No global settings.'],
    ['Monitor controls (ZEPDCMT)', dcmt, [OP_COLUMN,
      {key: 'MSGLGLVL', label: 'Logging level', num: true},
      {key: 'MCINDEX', label: 'Index', num: true}], 'No monitor control.'],
    ['Filter controls (ZEPFCT)', fct, [OP_COLUMN, {key: 'RMIPADDR', label: 'Client address'},
      {key: 'FCINDEX', label: 'Index', num: true}], 'No filter control.']];
  $('collectors').replaceChildren(...collectors.map((name, i) => el('article',
    {class: 'collector'}, el('h3', {}, name),
    ...parts.flatMap(([title, list, columns, none], j) => {
      const table = el('table', {id: `cfg-${i}-${j}`});
      fillTable(table, columns, list.filter((r) => key(r) === name), none);
      return [el('h4', {}, title), el('div', {class: 'scroll'}, table)];
    }))));
  if (!collectors.length) $('collectors').append(el('p', {}, 'No data collector yet.'));
}

$('action-form').onsubmit = async (ev) => {
  ev.preventDefault();
  const command = new FormData(ev.target).get('command');
  const r = await change('POST', `${API}/actions`, {command});
  const meaning = {0: 'changed', 1: 'nothing to change', 2: 'rejected'};
  $('action-answer').textContent = r.status === 200
    ? `rc ${r.answer.rc} (${meaning[r.answer.rc] || '?'})` +
      (r.answer.message ? `: ${r.answer.message}` : '')
    : `failed: ${r.answer.error || r.status}`;
  refresh();
};

// ---- navigation and refresh ----------------------------------------------------

async function refresh() {
  if (state.busy) { state.again = true; return; }
  state.busy = true;
  try {
    await keepFocus(async () => {
      const agent = state.view === 'overview' ? await showOverview()
                                               : await getJson(`${API}/agent`);
      $('agent-name').textContent = agent.originnode;
      if (state.view === 'subnode') await showSubnode(agent);
      if (state.view === 'situations') await showSituations();
      if (state.view === 'config') await showConfig();
    });
    $('status').textContent = 'Updated ' + new Date().toLocaleTimeString();
    $('status').className = '';
    document.body.dataset.ready = state.view;
    if (!performance.getEntriesByName('zep-first-view').length) performance.mark('zep-first-view');
  } catch (e) {
    $('status').textContent = 'Cannot read the agent: ' + e.message;
    $('status').className = 'bad';
  } finally {
    state.busy = false;
    if (state.again) { state.again = false; refresh(); }
  }
}

function route() {
  const view = location.hash.slice(1);
  state.view = ['overview', 'subnode', 'situations', 'config'].includes(view) ? view : 'overview';
  for (const s of document.querySelectorAll('main > section')) s.hidden = s.id !== state.view;
  for (const a of document.querySelectorAll('nav a')) {
    if (a.dataset.view === state.view) a.setAttribute('aria-current', 'page');
    else a.removeAttribute('aria-current');
  }
  delete document.body.dataset.ready;
  refresh();
}

$('subnode-select').onchange = (ev) => { state.subnode = ev.target.value; refresh(); };
for (const r of document.querySelectorAll('input[name=window]')) r.onchange = refresh;
window.addEventListener('hashchange', route);
setInterval(() => { if (!document.hidden) refresh(); }, REFRESH_MS);
route();

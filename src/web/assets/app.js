'use strict';
// The fixture's page: everything through the JSON API under /api/.

const $ = (id) => document.getElementById(id);
let status = null;
let readOnly = true;

function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (cls) e.className = cls;
  return e;
}

function say(text) {
  const m = $('message');
  m.textContent = text;
  m.classList.toggle('hidden', !text);
}

// Changes carry the password and the header a cross-site form cannot send.
function changeHeaders() {
  const h = { 'X-Lumetra-Request': '1' };
  const pw = sessionStorage.getItem('lumetra-password');
  if (pw) h.Authorization = 'Basic ' + btoa('lumetra:' + pw);
  return h;
}

const unreachable = 'The fixture does not answer (restarting, or off the network).';

// A reading: the answer's JSON, or null when the fixture refused or did not answer.
async function getJson(url) {
  try {
    const r = await fetch(url);
    if ($('message').textContent === unreachable) say('');
    return r.ok ? await r.json() : null;
  } catch (e) {
    say(unreachable);
    return null;
  }
}

async function change(method, url, body, type) {
  const headers = changeHeaders();
  if (type) headers['Content-Type'] = type;
  let r;
  try {
    r = await fetch(url, { method, headers, body });
  } catch (e) {
    say(unreachable);
    return { ok: false, answer: {} };
  }
  let answer = {};
  try { answer = await r.json(); } catch (e) { answer = {}; }
  if (r.status === 401) {
    $('login').classList.remove('hidden');
    say('The password is needed (or was wrong).');
  } else if (!r.ok) {
    say(answer.error || ('Refused: ' + r.status));
  } else {
    say('');
  }
  return { ok: r.ok, answer };
}

// ---- pages ----
const pages = {};
function showPage() {
  const name = (location.hash || '#status').slice(1);
  for (const s of document.querySelectorAll('section')) {
    s.classList.toggle('shown', s.dataset.page === name);
  }
  for (const key of Object.keys(pages)) {
    if (key === name) pages[key].start(); else pages[key].stop();
  }
}

// ---- status ----
function row(table, label, value) {
  const tr = el('tr');
  tr.append(el('th', label), el('td', value));
  table.append(tr);
}

function showStatus(s) {
  status = s;
  readOnly = s.read_only;
  $('readonly').classList.toggle('hidden', !readOnly);
  $('title').textContent = 'Lumetra: ' + s.name;
  document.title = s.name + ' (Lumetra)';
  const t = $('status-table');
  t.textContent = '';
  row(t, 'Name', s.name);
  row(t, 'Version', s.version);
  row(t, 'Addresses', s.addresses.map((a) => a.address + ' (' + a.interface + ')').join(', '));
  row(t, 'Display', s.display.width + ' x ' + s.display.height + (s.display.renderer ? ', ' + s.display.renderer : '') +
    (s.display.note ? ' — ' + s.display.note : ''));
  row(t, 'Frames per second', s.fps.toFixed(1));
  row(t, 'Art-Net', 'subnet ' + s.artnet.subnet + ', universe ' + s.artnet.universe);
  row(t, 'sACN universe', s.sacn_universe === 0 ? 'off' : String(s.sacn_universe));
  row(t, 'DMX mode', s.dmx_mode + ' channels per canvas');
  row(t, 'Start address', String(s.dmx_start));
  row(t, 'Canvases', String(s.canvases));
  row(t, 'Pictures', String(s.pictures));
  row(t, 'Uptime', Math.floor(s.uptime_seconds / 60) + ' min ' + (s.uptime_seconds % 60) + ' s');
  row(t, 'Memory', (s.memory_kb / 1024).toFixed(1) + ' MB');
  if (s.cpu_temperature !== null) row(t, 'CPU temperature', s.cpu_temperature + ' °C');
  row(t, 'Warnings', s.warnings.length ? s.warnings.join('; ') : 'none');
  const body = $('sources').tBodies[0];
  body.textContent = '';
  for (const src of s.sources) {
    const tr = el('tr');
    tr.append(el('td', src.address || '?'), el('td', src.protocol),
      el('td', src.priority === null ? '' : String(src.priority)), el('td', String(src.fps)),
      el('td', src.seconds_ago + ' s ago'));
    body.append(tr);
  }
  const ul = $('notices');
  ul.textContent = '';
  for (const n of s.notices) ul.append(el('li', n));
  if (!s.notices.length) ul.append(el('li', 'All pictures loaded as they are.'));
}

async function loadStatus() {
  const answer = await getJson('/api/status');
  if (answer) showStatus(answer);
}

let statusTimer = null;
pages.status = {
  start() { if (!statusTimer) { loadStatus(); statusTimer = setInterval(loadStatus, 2000); } },
  stop() { clearInterval(statusTimer); statusTimer = null; },
};

// ---- preview: a new picture a few times a second while shown ----
let previewOn = false;
let previewUrl = null;
async function previewLoop() {
  while (previewOn) {
    try {
      const r = await fetch('/api/preview', { cache: 'no-store' });
      if (r.ok) {
        const blob = await r.blob();
        const url = URL.createObjectURL(blob);
        $('preview-image').src = url;
        if (previewUrl) URL.revokeObjectURL(previewUrl);
        previewUrl = url;
        $('preview-age').textContent = 'Drawn ' + r.headers.get('X-Lumetra-Frame-Age-Ms') + ' ms before it was sent';
      }
    } catch (e) {
      await new Promise((res) => setTimeout(res, 1000));
    }
    await new Promise((res) => setTimeout(res, 250));
  }
}
pages.preview = {
  start() { if (!previewOn) { previewOn = true; previewLoop(); } },
  stop() { previewOn = false; },
};

// ---- DMX monitor ----
const MEANINGS = [
  ['picture', (v) => 'picture ' + v],
  ['opacity', (v) => Math.round(v / 2.55) + ' %'],
  ['X', (v) => 'X ' + sign(Math.round((v - 128) / 1.28)) + ' %'],
  ['Y', (v) => 'Y ' + sign(Math.round((v - 128) / 1.28)) + ' %'],
  ['width', (v) => 'width ' + Math.round(v / 2.55) + ' %'],
  ['height', (v) => v === 0 ? 'height from width' : 'height ' + Math.round(v / 2.55) + ' %'],
  ['angle', (v) => v === 0 ? 'angle: spin' : 'angle ' + Math.round(v / 256 * 360) + '°'],
  ['copies', (v) => (v >> 2) === 0 ? 'no ring' : (v >> 2) + ' copies'],
  ['ring angle', (v) => v === 0 ? 'ring angle: spin' : 'ring angle ' + Math.round(v / 256 * 360) + '°'],
  ['ring size', (v) => 'ring size ' + Math.round(v / 2.55) + ' %'],
  ['red', (v) => 'red ' + Math.round(v / 2.55) + ' %'],
  ['green', (v) => 'green ' + Math.round(v / 2.55) + ' %'],
  ['blue', (v) => 'blue ' + Math.round(v / 2.55) + ' %'],
  ['-', () => 'unused'],
  ['strobe', (v) => v === 0 ? 'no strobe' : 'strobe ' + v],
  ['spin', spin],
  ['ring spin', spin],
];
function sign(n) { return n > 0 ? '+' + n : String(n); }
function spin(v) {
  if (v === 127) return 'stop, angle 0';
  if (Math.abs(v - 127) < 8) return 'no spin';
  return v < 127 ? 'spin clockwise' : 'spin anticlockwise';
}

const cells = [];
function buildGrid() {
  const grid = $('dmx-grid');
  for (let i = 0; i < 512; i++) {
    const c = el('div');
    c.append(el('span', String(i + 1)), el('b', '0'));
    cells.push(c);
    grid.append(c);
  }
}

function showDmx(values) {
  for (let i = 0; i < 512; i++) cells[i].lastChild.textContent = String(values[i] || 0);
  if (!status) return;
  const box = $('canvases');
  box.textContent = '';
  const width = status.dmx_mode;
  for (let c = 0; c < status.canvases; c++) {
    const base = status.dmx_start - 1 + c * width;
    const t = el('table', undefined, 'canvas');
    const cap = el('caption', 'Canvas ' + (c + 1) + ' (from ' + (base + 1) + ')');
    t.append(cap);
    for (let k = 0; k < width; k++) {
      const v = values[base + k] || 0;
      if (base + k < 512) cells[base + k].classList.add('used');
      const meaning = k < MEANINGS.length ? MEANINGS[k][1](v) : 'channel ' + (k + 1);
      if (meaning === 'unused') continue;
      const tr = el('tr');
      tr.append(el('td', String(base + k + 1)), el('td', String(v)), el('td', meaning));
      t.append(tr);
    }
    box.append(t);
  }
}

let events = null;
pages.dmx = {
  start() {
    if (events) return;
    if (!status) loadStatus();
    events = new EventSource('/api/events');
    events.addEventListener('dmx', (e) => showDmx(JSON.parse(e.data).values));
    events.addEventListener('status', (e) => { status = JSON.parse(e.data); });
  },
  stop() { if (events) { events.close(); events = null; } },
};

// ---- pictures ----
async function loadSlots() {
  const slots = await getJson('/api/slots');
  if (!slots) return;
  const box = $('slots');
  box.textContent = '';
  for (const s of slots) {
    const d = el('div', undefined, 'slot');
    d.append(el('b', String(s.slot).padStart(3, '0') + ' '));
    if (s.kind === 'none') {
      d.append(el('span', 'empty', 'small'));
    } else {
      if (!s.error) {
        const img = el('img');
        img.alt = s.file;
        img.loading = 'lazy';
        img.src = '/api/slots/' + s.slot + '/thumbnail?v=' + s.bytes;
        d.append(img);
      }
      d.append(el('div', s.file), el('div', s.kind + ', ' + (s.bytes / 1024).toFixed(0) + ' KB', 'small'));
      if (s.error) d.append(el('div', s.error, 'error'));
      if (!readOnly) {
        const del = el('button', 'Delete');
        del.type = 'button';
        del.addEventListener('click', async () => {
          if ((await change('DELETE', '/api/slots/' + s.slot)).ok) setTimeout(loadSlots, 300);
        });
        d.append(del);
      }
    }
    box.append(d);
  }
}
pages.pictures = { start() { loadSlots(); }, stop() {} };

async function upload(e) {
  e.preventDefault();
  const file = $('upload-file').files[0];
  if (!file) return;
  const slot = Number($('upload-slot').value);
  const name = file.name.replace(/[^A-Za-z0-9._-]/g, '_').replace(/\.\.+/g, '.');
  say('Uploading ' + name + ' ...');
  const r = await change('PUT', '/api/slots/' + slot + '?name=' + encodeURIComponent(name), file,
    'application/octet-stream');
  if (r.ok) {
    say('Slot ' + slot + ' now holds ' + name + '.');
    setTimeout(loadSlots, 300);
  }
}

// ---- settings ----
async function loadSettings() {
  const config = await getJson('/api/config');
  if (!config) return;
  const form = $('settings-form');
  form.textContent = '';
  for (const k of config.keys) {
    const label = el('label', k.name + ' ');
    const input = el('input');
    input.name = k.name;
    input.type = k.kind === 'password' ? 'password' : 'text';
    input.value = k.value;
    input.dataset.original = k.value;
    input.placeholder = k.kind === 'password' ? (k.set ? '(set; type to change)' : '(none)') : k.default;
    input.disabled = config.read_only;
    label.append(input, el('span', k.meaning + (k.kind === 'int' ? ' (' + k.low + ' to ' + k.high + ')' : '')));
    form.append(label);
  }
  const save = el('button', 'Save');
  save.type = 'submit';
  save.disabled = config.read_only;
  form.append(save);
}

async function saveSettings(e) {
  e.preventDefault();
  const fields = new URLSearchParams();
  for (const input of $('settings-form').querySelectorAll('input')) {
    if (input.value !== input.dataset.original) fields.append(input.name, input.value);
  }
  if (![...fields.keys()].length) { say('Nothing changed.'); return; }
  const r = await change('PUT', '/api/config', fields.toString(), 'application/x-www-form-urlencoded');
  if (r.ok) say('Saved. Restart the fixture to apply.');
}

async function restart() {
  const r = await change('POST', '/api/restart');
  if (!r.ok) return;
  say('Restarting ...');
  for (let i = 0; i < 60; i++) {
    await new Promise((res) => setTimeout(res, 1000));
    try {
      const s = await fetch('/api/status');
      if (s.ok) {
        const answer = await s.json();
        if (answer.uptime_seconds < 30) { say('Back after ' + (i + 1) + ' s.'); loadSettings(); return; }
      }
    } catch (err) { /* still restarting */ }
  }
  say('The fixture has not come back within a minute.');
}
pages.settings = { start() { loadSettings(); }, stop() {} };
pages.identify = { start() {}, stop() {} };

async function identify(seconds) {
  const r = await change('POST', '/api/identify?seconds=' + seconds);
  if (r.ok) say(seconds > 0 ? 'Identify for ' + seconds + ' s.' : 'Identify off.');
}

window.addEventListener('DOMContentLoaded', () => {
  buildGrid();
  $('login').addEventListener('submit', (e) => {
    e.preventDefault();
    sessionStorage.setItem('lumetra-password', $('password').value);
    $('login').classList.add('hidden');
    say('Password kept for this browser tab. Try again.');
  });
  $('upload').addEventListener('submit', upload);
  $('settings-form').addEventListener('submit', saveSettings);
  $('restart').addEventListener('click', restart);
  $('identify-form').addEventListener('submit', (e) => {
    e.preventDefault();
    identify(Number($('identify-seconds').value) || 30);
  });
  $('identify-off').addEventListener('click', () => identify(0));
  window.addEventListener('hashchange', showPage);
  loadStatus().then(showPage);
});

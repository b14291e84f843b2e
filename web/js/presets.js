// Presets for a technician: the list with downloads, storing a room's state, uploading a
// parameter file or its JSON, and recall into chosen rooms with each room's result as it
// comes (ok, differs with the controls that differ, failed with the reason).
import { call, events } from './api.js';
import { element, isTechnician, startPage } from './page.js';
import { describe, language, reasonText, said, text, useGlossary } from './texts.js';

const status = document.getElementById('status');
const body = document.querySelector('#presets tbody');
const results = document.getElementById('results');
let titles = new Map(); // machine name -> name for people, from the layout
let rooms = [];
let presets = [];
let recalling = null;   // the preset being recalled by this page
const rows = new Map(); // room -> its result row

function say(message) {
  status.textContent = message;
}

function titlesOf(node) {
  if (node.name) titles.set(node.name, node.title); // shown through said(), in the page's language
  for (const child of node.children || []) titlesOf(child);
}

function link(href, label, name) {
  const a = element('a', '', label);
  a.href = href;
  a.download = name;
  return a;
}

function showPresets() {
  if (!presets.length) {
    const row = element('tr');
    const cell = element('td', '', text('noPresets'));
    cell.colSpan = 4;
    row.append(cell);
    body.replaceChildren(row);
  } else {
    body.replaceChildren(...presets.map((p) => {
      const row = element('tr');
      const name = element('th', '', p.name);
      name.scope = 'row';
      const when = element('td', '', new Date(p.modified).toLocaleString(language() === 'en' ? 'en-GB' : 'zh-CN', { hour12: false }));
      const files = element('td');
      const file = `presets/${encodeURIComponent(p.name)}`;
      const dat = link(`/api/v1/${file}?format=dat`, '.dat', `${p.name}.dat`);
      dat.setAttribute('aria-label', `${text('download')} ${p.name}.dat`);
      const json = link(`/api/v1/${file}`, 'JSON', `${p.name}.json`);
      json.setAttribute('aria-label', `${text('download')} ${p.name}.json`);
      files.append(dat, ' ', json);
      const remove = element('td');
      const button = element('button', '', text('remove'));
      button.type = 'button';
      button.setAttribute('aria-label', `${text('remove')} ${p.name}`);
      button.addEventListener('click', async () => {
        if (!confirm(text('removeAsk', { name: p.name }))) return;
        try {
          await call('DELETE', file);
          say(text('removed', { name: p.name }));
          loadPresets();
        } catch (error) {
          say(error.message);
        }
      });
      remove.append(button);
      row.append(name, when, files, remove);
      return row;
    }));
  }
  const choice = document.getElementById('recall-preset');
  const keep = choice.value;
  choice.replaceChildren(...presets.map((p) => Object.assign(element('option', '', p.name), { value: p.name })));
  if (presets.some((p) => p.name === keep)) choice.value = keep;
}

async function loadPresets() {
  try {
    presets = (await call('GET', 'presets')).presets;
    showPresets();
  } catch (error) {
    say(error.message);
  }
}

function showRooms() {
  const store = document.getElementById('store-room');
  const keep = store.value;
  store.replaceChildren(...rooms.map((r) => Object.assign(element('option', '', r.name), { value: r.name })));
  if (keep) store.value = keep;
  const box = document.getElementById('recall-rooms');
  const chosen = new Set([...box.querySelectorAll('input:checked')].map((i) => i.value));
  box.replaceChildren(...rooms.map((r) => {
    const label = element('label');
    const input = element('input');
    Object.assign(input, { type: 'checkbox', value: r.name, checked: chosen.has(r.name) });
    label.append(input, ` ${r.name} `, element('span', `state state-${r.state}`, text(r.state)));
    return label;
  }));
}

function showResult(result) {
  let row = rows.get(result.room);
  if (!row) return;
  const [, what, detail] = row.children;
  const key = { ok: 'ok', differs: 'differsResult', failed: 'failedResult' }[result.result] || 'waiting';
  what.textContent = text(key);
  what.className = `result-${result.result || 'waiting'}`;
  // A room's failure in the page's language: why its room is offline, or what the problem was.
  const failure = result.reasonCode ? `${describe(result, result.detail)}: ${reasonText(result)}` : describe(result, result.detail);
  detail.textContent = result.result === 'failed' ? failure
    : result.result === 'differs' ? result.differs.map((name) => said(titles.get(name) || name)).join(language() === 'en' ? ', ' : '、') : '';
}

async function recall(event) {
  event.preventDefault();
  const preset = document.getElementById('recall-preset').value;
  const all = document.getElementById('all-rooms').checked;
  const chosen = all ? rooms.map((r) => r.name)
    : [...document.querySelectorAll('#recall-rooms input:checked')].map((i) => i.value);
  if (!preset || !chosen.length) return say(text('chooseRooms'));
  recalling = preset;
  rows.clear();
  results.hidden = false;
  results.querySelector('tbody').replaceChildren(...chosen.map((name) => {
    const row = element('tr');
    const head = element('th', '', name);
    head.scope = 'row';
    row.append(head, element('td', 'result-waiting', text('waiting')), element('td'));
    rows.set(name, row);
    return row;
  }));
  try {
    const answer = await call('POST', `presets/${encodeURIComponent(preset)}/recall`, { rooms: all ? 'all' : chosen });
    for (const result of answer.results) showResult(result);
    say(text('done'));
  } catch (error) {
    say(error.message);
  }
  recalling = null;
}

async function store(event) {
  event.preventDefault();
  const name = document.getElementById('store-name').value.trim();
  try {
    await call('PUT', `presets/${encodeURIComponent(name)}`, { fromRoom: document.getElementById('store-room').value });
    say(text('stored', { name }));
    loadPresets();
  } catch (error) {
    say(error.message);
  }
}

async function upload(event) {
  event.preventDefault();
  const file = document.getElementById('upload-file').files[0];
  const name = document.getElementById('upload-name').value.trim();
  if (!file) return;
  const json = file.name.toLowerCase().endsWith('.json');
  try {
    await call('PUT', `presets/${encodeURIComponent(name)}`, json ? await file.text() : await file.arrayBuffer(),
      json ? 'application/json' : 'application/octet-stream');
    say(text('stored', { name }));
    loadPresets();
  } catch (error) {
    say(error.message);
  }
}

function take(event) {
  if (event.type === 'hello') {
    rooms = event.rooms;
    return showRooms();
  }
  if (event.type === 'recall' && event.preset === recalling) return showResult(event.result);
  if (event.type === 'state') {
    const room = rooms.find((r) => r.name === event.room);
    if (room) { room.state = event.state; showRooms(); }
  }
}

async function start() {
  const me = await startPage(() => { showPresets(); showRooms(); });
  if (!me) return;
  if (!isTechnician(me)) {
    say(text('onlyTechnician'));
    document.querySelector('main').replaceChildren(status);
    return;
  }
  const layout = await call('GET', 'layout');
  useGlossary(layout.english);
  titles = new Map();
  for (const page of layout.pages) titlesOf(page);
  await loadPresets();
  events(take, (state) => {
    if (state !== 'live') say(text('stale'));
    else if (status.textContent === text('stale')) say('');
  });
}

document.getElementById('store').addEventListener('submit', store);
document.getElementById('upload').addEventListener('submit', upload);
document.getElementById('recall').addEventListener('submit', recall);
document.getElementById('upload-file').addEventListener('change', (event) => {
  const name = document.getElementById('upload-name');
  const file = event.target.files[0];
  if (file && !name.value) name.value = file.name.replace(/\.(dat|json)$/i, '');
});
document.getElementById('all-rooms').addEventListener('change', (event) => {
  for (const input of document.querySelectorAll('#recall-rooms input')) input.disabled = event.target.checked;
});
start();

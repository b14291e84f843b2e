// Every room as a tile (a front-desk monitor) or a row (a phone): its name, its state (and why
// it is offline), the front desk's registers as the panel shows them with − and + for those
// who may change them, its lock, a preset to recall, and where it differs from the house
// preset; kept live from the event stream. Tiles are made once and then only their texts
// change, so focus stays where it is. While the page cannot vouch for what it shows (no word
// from the server for 10 s, the stream lost) every value is "?" and every control is off.
import { call, events } from './api.js';
import { element, isTechnician, later, mayChange, startPage } from './page.js';
import { describe, reasonText, said, text, useGlossary } from './texts.js';

const rooms = new Map(); // name -> { room, tile: { item, state, values: Map, lock, differs, ... } }
let desk = [];           // the front desk's registers: { name, title }
let presets = [];
let me = null;
let live = false;        // the stream's hello is in and the server is heard
let house = localStorage.getItem('zev720.house') || '';
let comparison = new Map(); // room -> the registers differing from the house preset, or null
let outputs = 0;
const list = document.getElementById('rooms');
const status = document.getElementById('status');
const filter = document.getElementById('filter');
const sort = document.getElementById('sort');
const houseChoice = document.getElementById('house');
const viewChoice = document.getElementById('view');
const lockDialog = document.getElementById('lock-dialog');
sort.value = localStorage.getItem('zev720.sort') || 'name';
// A phone gets the compact list unless its user chose the tiles.
viewChoice.value = localStorage.getItem('zev720.view') || (matchMedia('(max-width: 40rem)').matches ? 'rows' : 'tiles');

function say(message) {
  status.textContent = message;
}

function stateText(room) {
  if (!live) return text('unknown');
  const why = room.state === 'offline' ? reasonText(room)
    : room.state === 'connecting' && room.progress ? `${room.progress.done}/${room.progress.of}` : '';
  return text(room.state) + (why ? ` (${why})` : '');
}

function lockText(room) {
  if (!live) return text('lockUnknown');
  return room.locked === null || room.locked === undefined ? text('lockUnknown') : text(room.locked ? 'locked' : 'unlocked');
}

function registerOf(room, name) {
  return room.registers.find((r) => r.name === name);
}

// A desk user's own last change of a room may be undone for a minute (the wrong room, a
// double tap): the ids the server gave it.
const kOwnUndoMs = 60000;
const ownChanges = new Map(); // room -> { ids, timer }

async function change(roomName, name, step) {
  try {
    const answer = await call('PATCH', `rooms/${encodeURIComponent(roomName)}/registers`, { registers: [{ name, step }] });
    if (answer.limited) say(`${roomName}: ${text(step > 0 ? 'atTop' : 'atBottom')}`);
    if (answer.ids && answer.ids.length) keepOwn(roomName, answer.ids);
  } catch (error) {
    say(`${roomName}: ${error.message}`);
  }
}

function keepOwn(roomName, ids) {
  const before = ownChanges.get(roomName);
  if (before) clearTimeout(before.timer);
  ownChanges.set(roomName, { ids, timer: setTimeout(() => { ownChanges.delete(roomName); update(roomName); }, kOwnUndoMs) });
  update(roomName);
}

async function undoOwn(roomName) {
  const own = ownChanges.get(roomName);
  if (!own) return;
  clearTimeout(own.timer);
  ownChanges.delete(roomName);
  update(roomName);
  try {
    await call('POST', `rooms/${encodeURIComponent(roomName)}/undo`, { ids: own.ids });
    say(`${roomName}: ${text('undoneMine')}`);
  } catch (error) {
    say(`${roomName}: ${error.message}`);
  }
}

async function endTablet(roomName) {
  try {
    await call('DELETE', `rooms/${encodeURIComponent(roomName)}/links`);
    say(`${roomName}: ${text('endTablet')} — ${text('ended')}`);
  } catch (error) {
    say(`${roomName}: ${error.message}`);
  }
}

// The limits of this user's role, as the desk reads them ("22:00–08:00 音量上限 70dB").
let limits = [];
async function loadLimits() {
  try {
    limits = (await call('GET', 'limits')).limits.filter((l) => l.role === me.role && l.max);
  } catch {
    limits = [];
  }
  showLimits();
}

function showLimits() {
  const line = document.getElementById('limits');
  line.replaceChildren(...limits.map((l) => {
    const known = desk.find((d) => d.name === l.register);
    const [from, to] = (l.hours || '').split('-');
    const when = l.hours ? text('limitHours', { from, to }) : '';
    const where = l.rooms ? ` (${l.rooms})` : '';
    return element('li', l.inForce ? 'in-force' : '', text('limitNote', { when, what: known ? said(known.title) : l.register, max: said(l.max) }) + where);
  }));
  line.hidden = !limits.length;
}

// Locking asks first, and says what it does.
function askLock(roomName) {
  lockDialog.querySelector('p').textContent = text('lockAsk', { room: roomName });
  lockDialog.querySelector('[value=yes]').textContent = text('lockYes');
  lockDialog.querySelector('[value=no]').textContent = text('cancel');
  lockDialog.returnValue = '';
  lockDialog.onclose = async () => {
    if (lockDialog.returnValue !== 'yes') return;
    try {
      await call('POST', `rooms/${encodeURIComponent(roomName)}/lock`);
    } catch (error) {
      say(`${roomName}: ${error.message}`);
    }
  };
  lockDialog.showModal();
}

function makeTile(room) {
  const item = element('li', 'room');
  item.dataset.room = room.name;
  const heading = element('h2');
  if (isTechnician(me)) {
    const link = element('a', '', room.name);
    link.href = `room.html?room=${encodeURIComponent(room.name)}`;
    heading.append(link);
  } else {
    heading.textContent = room.name;
  }
  const state = element('span', 'state');
  const top = element('div', 'top');
  top.append(heading, state);
  const differs = element('details', 'differs');
  differs.hidden = true;
  const summary = element('summary');
  const differing = element('ul');
  differs.append(summary, differing);
  const values = element('dl', 'values');
  const shown = new Map();
  for (const { name } of desk) {
    const title = element('dt');
    const value = element('dd');
    const output = element('output', 'value');
    const note = element('span', 'end');
    const id = `value-${++outputs}`; // room names may hold spaces, which ids may not
    output.id = id;
    if (mayChange(me)) {
      const down = element('button', 'step', '−');
      const up = element('button', 'step', '+');
      down.type = up.type = 'button';
      down.dataset.step = '-1';
      up.dataset.step = '1';
      for (const button of [down, up]) {
        button.setAttribute('aria-describedby', id);
        button.addEventListener('click', () => change(room.name, name, Number(button.dataset.step)));
      }
      value.append(down, output, up, note);
    } else {
      value.append(output, note);
    }
    values.append(title, value);
    shown.set(name, { title, output, note, down: value.querySelector('[data-step="-1"]'), up: value.querySelector('[data-step="1"]') });
  }
  const lock = element('p', 'lock');
  const lockState = element('span');
  lock.append(lockState);
  const lost = element('p', 'lost-mark');
  lost.hidden = true;
  const tablet = element('p', 'tablet');
  tablet.hidden = true;
  const tabletState = element('span', '', '');
  tablet.append(tabletState);
  let tabletButton = null;
  let undoButton = null;
  if (mayChange(me)) {
    tabletButton = element('button', '', '');
    tabletButton.type = 'button';
    tabletButton.addEventListener('click', () => endTablet(room.name));
    tablet.append(' ', tabletButton);
    undoButton = element('button', 'undo-own', '');
    undoButton.type = 'button';
    undoButton.hidden = true;
    undoButton.addEventListener('click', () => undoOwn(room.name));
  }
  let lockButton = null;
  let recallChoice = null;
  let recallButton = null;
  const result = element('output', 'result');
  item.append(top, lost, values, lock, tablet);
  if (undoButton) values.after(undoButton);
  if (mayChange(me)) {
    lockButton = element('button', '', '');
    lockButton.type = 'button';
    lockButton.addEventListener('click', () => askLock(room.name));
    lock.append(' ', lockButton);
    const recall = element('div', 'recall');
    recallChoice = element('select');
    recallButton = element('button', '', '');
    recallButton.type = 'button';
    recallButton.addEventListener('click', async () => {
      if (!recallChoice.value) return;
      result.textContent = text('sending');
      try {
        const answer = await call('POST', `presets/${encodeURIComponent(recallChoice.value)}/recall`, { rooms: [room.name] });
        const one = answer.results[0];
        result.textContent = one.result === 'failed' ? `${text('failed')}: ${describe(one, one.detail)}`
          : text(one.result === 'ok' ? 'done' : 'differsResult');
      } catch (error) {
        result.textContent = `${text('failed')}: ${error.message}`;
      }
    });
    recall.append(recallChoice, recallButton, result);
    item.append(recall);
  }
  item.append(differs);
  return { item, state, values: shown, lockState, lockButton, recallChoice, recallButton, differs, summary, differing,
    tablet, tabletState, tabletButton, undoButton, lost };
}

function fillPresetChoice(choice) {
  const keep = choice.value;
  choice.replaceChildren(...presets.map((p) => Object.assign(element('option', '', p.name), { value: p.name })));
  if (presets.some((p) => p.name === keep)) choice.value = keep;
}

function update(name) {
  const { room, tile } = rooms.get(name);
  tile.item.dataset.state = live ? room.state : 'unknown';
  tile.item.classList.toggle('stale', !live);
  tile.state.className = `state state-${live ? room.state : 'unknown'}`;
  tile.state.textContent = stateText(room);
  const online = live && room.state === 'online';
  const ends = room.ends || {};
  const held = (room.limitEnds || {})[me.role] || {}; // where a limit of this role holds a bar
  for (const [register, shown] of tile.values) {
    const value = registerOf(room, register);
    const end = [...(ends[register] || []), ...(held[register] || [])];
    shown.output.textContent = live && value ? said(value.shown) : '?';
    shown.title.textContent = said(desk.find((d) => d.name === register).title);
    shown.note.textContent = !online || !value ? '' : end.includes('top') ? text('atTop') : end.includes('bottom') ? text('atBottom') : '';
    for (const [button, key, side] of [[shown.down, 'lower', 'bottom'], [shown.up, 'higher', 'top']])
      if (button) {
        button.setAttribute('aria-label', text(key, { room: room.name, what: shown.title.textContent }));
        button.disabled = !online || !value || end.includes(side);
      }
  }
  tile.lockState.textContent = lockText(room);
  tile.lost.hidden = !live || !room.settingsLost;
  tile.lost.textContent = text('settingsLost');
  tile.tablet.hidden = !live || !room.links;
  tile.tabletState.textContent = text('tabletLive');
  if (tile.tabletButton) {
    tile.tabletButton.textContent = text('endTablet');
    tile.tabletButton.setAttribute('aria-label', `${text('endTablet')} ${room.name}`);
  }
  if (tile.undoButton) {
    tile.undoButton.hidden = !live || !ownChanges.has(room.name);
    tile.undoButton.disabled = !online;
    tile.undoButton.textContent = text('undoMine');
    tile.undoButton.setAttribute('aria-label', `${text('undoMine')} ${room.name}`);
  }
  if (tile.lockButton) {
    tile.lockButton.textContent = text('lock');
    tile.lockButton.setAttribute('aria-label', `${text('lock')} ${room.name}`);
    tile.lockButton.disabled = !online;
    tile.recallChoice.setAttribute('aria-label', `${text('recallPreset')} ${room.name}`);
    tile.recallButton.textContent = text('recall');
    tile.recallButton.setAttribute('aria-label', `${text('recall')} ${room.name}`);
    tile.recallButton.disabled = !online || presets.length === 0;
  }
  const differs = comparison.get(name);
  // Marked where it differs (or cannot be compared yet); a room like the preset shows nothing.
  tile.differs.hidden = !live || !house || differs === undefined || (differs !== null && !differs.length);
  tile.item.classList.toggle('differs-from-house', Boolean(live && house && differs && differs.length));
  if (house && differs !== undefined) {
    tile.summary.textContent = differs === null ? text('notRead')
      : differs.length ? text('differs', { preset: house, n: differs.length }) : text('same', { preset: house });
    tile.summary.title = (differs || []).map((d) => `${said(d.title)}: ${said(d.shown)}`).join('\n');
    tile.differing.replaceChildren(...(differs || []).map((d) =>
      element('li', '', `${said(d.title)}: ${said(d.shown)} (${text('inPreset', { value: said(d.preset) })})`)));
  }
}

const stateOrder = { offline: 0, stopped: 1, connecting: 2, online: 3 };

// The rooms offline, counted at the top, with a way to the first of them.
function countOffline(all) {
  const offline = all.filter((r) => r.room.state === 'offline' && !r.tile.item.hidden);
  const line = document.getElementById('offline');
  const jump = document.getElementById('first-offline');
  line.textContent = !live ? '' : offline.length ? text('offlineCount', { n: offline.length }) : text('allOnline');
  line.classList.toggle('some-offline', live && offline.length > 0);
  jump.hidden = !live || !offline.length;
  jump.textContent = text('firstOffline');
  jump.dataset.target = offline.length ? offline[0].room.name : '';
}

// Sorted and filtered; tiles are moved, not made again.
function arrange() {
  const needle = filter.value.trim().toLowerCase();
  const all = [...rooms.values()];
  all.sort((a, b) => (sort.value === 'state' ? stateOrder[a.room.state] - stateOrder[b.room.state] : 0)
    || a.room.name.localeCompare(b.room.name, undefined, { numeric: true }));
  let shown = 0;
  for (const { room, tile } of all) {
    const match = !needle || room.name.toLowerCase().includes(needle) || room.state.includes(needle)
      || stateText(room).toLowerCase().includes(needle);
    tile.item.hidden = !match;
    if (match) ++shown;
  }
  list.append(...all.map((r) => r.tile.item));
  document.getElementById('count').textContent = text('shownRooms', { n: shown, all: all.length });
  countOffline(all);
}

function showAll() {
  list.classList.toggle('compact', viewChoice.value === 'rows');
  for (const name of rooms.keys()) update(name);
  arrange();
}

const compareSoon = later(compare, 300);

async function compare() {
  comparison = new Map();
  if (house) {
    try {
      const answer = await call('GET', `presets/${encodeURIComponent(house)}/compare`);
      for (const r of answer.rooms) comparison.set(r.room, r.differs);
    } catch (error) {
      say(`${house}: ${error.message}`);
    }
  }
  for (const name of rooms.keys()) update(name);
}

function take(event) {
  if (event.type === 'hello') {
    desk = event.desk;
    for (const { tile } of rooms.values()) tile.item.remove();
    rooms.clear();
    for (const room of event.rooms) rooms.set(room.name, { room, tile: makeTile(room) });
    for (const { tile } of rooms.values()) if (tile.recallChoice) fillPresetChoice(tile.recallChoice);
    showAll();
    loadLimits();
    return compareSoon();
  }
  if (event.type === 'recall') return compareSoon();
  if (event.type === 'limits') return loadLimits();
  const name = event.type === 'room' ? event.room.name : event.room;
  const known = rooms.get(name);
  if (!known) return;
  const { room } = known;
  if (event.type === 'room') {
    Object.assign(room, event.room, { registers: event.room.registers.filter((r) => desk.some((d) => d.name === r.name)) });
  } else if (event.type === 'state') {
    room.state = event.state;
    room.reason = event.reason;
    room.reasonCode = event.reasonCode;
    delete room.progress;
    if (sort.value === 'state' || filter.value) arrange(); else countOffline([...rooms.values()]);
  } else if (event.type === 'change') {
    if ('locked' in event) room.locked = event.locked;
    if (event.ends) {
      room.ends = event.ends;
      room.limitEnds = event.limitEnds || {};
    }
    const register = event.register && registerOf(room, event.register.name);
    if (register) Object.assign(register, event.register);
  }
  update(name);
  if (house && event.type !== 'state') compareSoon();
}

function streamState(state) {
  const wasLive = live;
  live = state === 'live';
  say(live ? '' : text(wasLive ? 'stale' : 'lost'));
  if (!live) showAll();
}

async function loadPresets() {
  try {
    presets = (await call('GET', 'presets')).presets;
  } catch {
    presets = [];
  }
  const keep = house;
  houseChoice.replaceChildren(Object.assign(element('option', '', text('none')), { value: '' }),
    ...presets.map((p) => Object.assign(element('option', '', p.name), { value: p.name })));
  houseChoice.value = presets.some((p) => p.name === keep) ? keep : '';
  house = houseChoice.value;
}

async function start() {
  me = await startPage(() => { houseChoice.options[0].textContent = text('none'); if (!live && rooms.size) say(text('stale')); showAll(); showLimits(); });
  if (!me) return;
  useGlossary((await call('GET', 'layout')).english); // the processor's names in English
  await loadPresets();
  events(take, streamState);
}

filter.addEventListener('input', arrange);
sort.addEventListener('change', () => { localStorage.setItem('zev720.sort', sort.value); arrange(); });
viewChoice.addEventListener('change', () => { localStorage.setItem('zev720.view', viewChoice.value); showAll(); });
document.getElementById('first-offline').addEventListener('click', (event) => {
  const room = rooms.get(event.target.dataset.target);
  if (!room) return;
  room.tile.item.scrollIntoView({ block: 'start' });
  room.tile.item.querySelector('h2 a, button:not(:disabled)')?.focus({ preventScroll: true });
});
houseChoice.addEventListener('change', () => {
  house = houseChoice.value;
  localStorage.setItem('zev720.house', house);
  compare();
});
start();

// One room for a technician, the page's wiring: the controls (controls.js) kept live from the
// event stream; A/B comparison; undo and redo of this page's steps (roomsend.js); the room's
// history as a list. The server applies the panel's rules (coupled bars, modes): the page sends
// what was moved and shows what the processor confirmed. While the page cannot vouch for what
// it shows, the room's state is unknown and every control is off.
import { call, events } from './api.js';
import { buildPages } from './controls.js';
import { element, isTechnician, later, startPage } from './page.js';
import { roomSender } from './roomsend.js';
import { reasonText, said, text, timeText, useGlossary } from './texts.js';

const roomName = new URLSearchParams(location.search).get('room') || '';
const registers = new Map(); // machine name -> { value, shown, title }
const status = document.getElementById('status');
const stateLine = document.getElementById('room-state');
let state = 'connecting';
let room = {};              // the room as last told (state, reason, reasonCode)
let live = false;           // the stream's hello is in and the server is heard
const path = `rooms/${encodeURIComponent(roomName)}`;

function say(message) {
  status.textContent = message;
}

const sender = roomSender(path, {
  confirmed: (register) => take({ type: 'change', room: roomName, register }),
  failed: (message) => { say(message); showAll(); }, // back to what the processor holds
  stacks: (canUndo, canRedo) => {
    document.getElementById('undo').disabled = !canUndo;
    document.getElementById('redo').disabled = !canRedo;
  },
  say,
});
// What the controls share with the page (controls.js).
const page = {
  queue: (name, value) => sender.queue(name, value),
  endStep: () => sender.endStep(),
  online: () => state === 'online',
  controls: new Map(), // machine name -> { node, set(), inputs: [] }
  fixed: null,         // the fixed DSP mode control: { name, first }
};
const controls = page.controls;

// ---- A/B ----
const abKey = `zev720.ab.${roomName}`;
let ab = JSON.parse(sessionStorage.getItem(abKey) || '{}'); // { A: {...}, B: {...}, side }

function snapshot() {
  return Object.fromEntries([...registers].map(([name, r]) => [name, r.value]));
}

function keepAb() {
  sessionStorage.setItem(abKey, JSON.stringify(ab));
  const line = document.getElementById('ab-state');
  line.textContent = !ab.A && !ab.B ? text('abNone') : ab.side ? text('abActive', { side: ab.side }) : '';
  document.getElementById('switch').disabled = !(ab.A && ab.B);
  document.getElementById('copy').disabled = !ab.A;
}

async function switchAb() {
  const side = ab.side === 'A' ? 'B' : 'A';
  if (!ab[side]) return say(text('abMissing', { side }));
  try {
    const { count } = await sender.sendWhole(ab[side], registers, side);
    ab.side = side;
    keepAb();
    say(text('abSent', { side, n: count }));
  } catch (error) {
    say(error.message);
  }
}

// ---- the controls ----
function disabledNow(node) {
  if (!live || state !== 'online') return true;
  if (!node.effect || !page.fixed) return false;
  const mode = registers.get(page.fixed.name);
  return Boolean(mode && mode.value >= page.fixed.first);
}


function showState() {
  document.getElementById('lost').hidden = !live || !room.settingsLost;
  const shown = live ? state : 'unknown';
  stateLine.className = `state state-${shown}`;
  const why = live && state === 'offline' ? reasonText(room) : '';
  stateLine.textContent = text(shown) + (why ? ` (${why})` : '');
}

function setRoom(told) {
  room = told;
  state = told.state;
}

function showAll() {
  showState();
  document.querySelector('main').classList.toggle('stale', !live);
  for (const [name, control] of controls) {
    for (const input of control.inputs) input.disabled = disabledNow(control.node);
    const register = registers.get(name);
    if (register) control.set(live ? register : { ...register, shown: '?' });
  }
}

// ---- history ----
const historySoon = later(loadHistory, 400);

async function loadHistory() {
  const list = document.getElementById('history');
  try {
    const answer = await call('GET', `${path}/history?limit=30`);
    list.replaceChildren(...answer.changes.map((c) => {
      const item = element('li', c.undone ? 'undone' : '');
      const time = element('time', '', timeText(c.time));
      time.dateTime = c.time;
      item.append(time, ` ${said(c.title)}: ${said(c.beforeShown)} → ${said(c.afterShown)} (${c.user}, ${text(`through.${c.through}`)})`);
      if (c.undone) item.append(` — ${text('undone')}`);
      return item;
    }));
    if (!answer.changes.length) list.replaceChildren(element('li', '', text('historyEmpty')));
  } catch (error) {
    say(error.message);
  }
}

function take(event) {
  if (event.type === 'hello') {
    const told = event.rooms.find((r) => r.name === roomName);
    if (told) setRoom(told);
    return load(); // every register read again: the page was not listening before
  }
  if (event.type === 'room' && event.room.name === roomName) {
    setRoom(event.room);
    for (const r of event.room.registers) registers.set(r.name, r);
    return showAll();
  }
  if (event.room !== roomName) return;
  if (event.type === 'state') {
    setRoom({ ...room, state: event.state, reason: event.reason, reasonCode: event.reasonCode });
    return showAll();
  }
  if (event.type === 'change' && event.register) {
    registers.set(event.register.name, event.register);
    const control = controls.get(event.register.name);
    if (control) control.set(event.register);
    if (page.fixed && event.register.name === page.fixed.name) showAll();
    historySoon();
  }
}

async function load() {
  try {
    const told = await call('GET', path);
    setRoom(told);
    for (const r of told.registers) registers.set(r.name, r);
    showAll();
    loadHistory();
  } catch (error) {
    say(error.status === 404 ? text('noRoom') : error.message);
  }
}

async function start() {
  // The processor's names are built into the controls: another language builds them again.
  const me = await startPage(() => location.reload());
  if (!me) return;
  document.getElementById('room-name').textContent = roomName;
  document.title = `${roomName} — ZEV720`;
  if (!isTechnician(me)) {
    say(text('onlyTechnician'));
    document.querySelector('main').replaceChildren(status);
    return;
  }
  const layout = await call('GET', 'layout');
  useGlossary(layout.english);
  buildPages(layout, page);
  await load();
  keepAb();
  sender.showStacks();
  events(take, (streamState) => {
    live = streamState === 'live';
    if (!live) say(text('stale'));
    else if (status.textContent === text('stale')) say('');
    showAll();
  });
}

document.getElementById('keep-a').addEventListener('click', () => { ab.A = snapshot(); ab.side = 'A'; keepAb(); });
document.getElementById('keep-b').addEventListener('click', () => { ab.B = snapshot(); ab.side = 'B'; keepAb(); });
document.getElementById('copy').addEventListener('click', () => { if (ab.A) { ab.B = { ...ab.A }; keepAb(); } });
document.getElementById('switch').addEventListener('click', switchAb);
document.getElementById('undo').addEventListener('click', () => sender.undo());
for (const [id, method, path] of [['restore-lost', 'POST', 'restore'], ['accept-factory', 'DELETE', 'settings-lost']])
  document.getElementById(id).addEventListener('click', async (event) => {
    event.target.disabled = true;
    try {
      await call(method, `rooms/${encodeURIComponent(roomName)}/${path}`);
      if (path === 'restore') say(text('restored'));
    } catch (error) {
      say(error.message);
    } finally {
      event.target.disabled = false;
    }
  });
document.getElementById('redo').addEventListener('click', () => sender.redo());
document.addEventListener('keydown', (event) => {
  const typing = event.target instanceof HTMLInputElement && event.target.type === 'number';
  if (typing || event.altKey || event.metaKey) return;
  const key = event.key.toLowerCase();
  if (key === 'x' && !event.ctrlKey) { event.preventDefault(); switchAb(); }
  if (event.ctrlKey && key === 'z' && !event.shiftKey) { event.preventDefault(); sender.undo(); }
  if (event.ctrlKey && (key === 'y' || (key === 'z' && event.shiftKey))) { event.preventDefault(); sender.redo(); }
});
start();

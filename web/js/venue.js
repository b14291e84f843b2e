// Every room as a tile: its name, its state (and why it is offline), the front desk's
// registers as the panel shows them, and its lock; kept live from the event stream.
import { call, events } from './api.js';
import { applyTexts, text } from './texts.js';

const rooms = new Map(); // name -> the room as the API gives it
const list = document.getElementById('rooms');
const status = document.getElementById('status');

function tile(room) {
  const item = document.createElement('li');
  item.className = 'room';
  item.dataset.room = room.name;
  const title = document.createElement('h2');
  title.textContent = room.name;
  const state = document.createElement('p');
  state.className = `state state-${room.state}`;
  state.textContent = text(room.state) + (room.reason ? ` (${room.reason})` : '');
  const values = document.createElement('dl');
  values.className = 'values';
  for (const register of room.registers) {
    const name = document.createElement('dt');
    name.textContent = register.title;
    const value = document.createElement('dd');
    value.dataset.register = register.name;
    value.textContent = register.shown;
    values.append(name, value);
  }
  const lock = document.createElement('p');
  lock.className = 'lock';
  lock.textContent = room.locked === null ? text('lockUnknown') : text(room.locked ? 'locked' : 'unlocked');
  item.append(title, state, values, lock);
  item.setAttribute('aria-label', room.name);
  return item;
}

function show(name) {
  const room = rooms.get(name);
  const fresh = tile(room);
  const old = list.querySelector(`[data-room="${CSS.escape(name)}"]`);
  if (old) old.replaceWith(fresh); else list.append(fresh);
}

function showAll() {
  list.replaceChildren(...[...rooms.values()].map(tile));
}

function take(event) {
  if (event.type === 'hello') {
    rooms.clear();
    for (const room of event.rooms) rooms.set(room.name, room);
    return showAll();
  }
  if (event.type === 'room') {
    const room = event.room;
    const known = rooms.get(room.name);
    // Only the desk's registers are kept, as /rooms gives them.
    if (known) room.registers = room.registers.filter((r) => known.registers.some((k) => k.name === r.name));
    rooms.set(room.name, room);
    return show(room.name);
  }
  const room = rooms.get(event.room);
  if (!room) return;
  if (event.type === 'state') {
    room.state = event.state;
    room.reason = event.reason;
  } else if (event.type === 'change') {
    if ('locked' in event) room.locked = event.locked;
    const register = event.register && room.registers.find((r) => r.name === event.register.name);
    if (register) Object.assign(register, event.register);
  }
  show(event.room);
}

async function start() {
  try {
    const me = await call('GET', 'me');
    document.getElementById('who').textContent = `${me.user} (${me.role})`;
  } catch {
    location.assign('index.html');
    return;
  }
  events(take, (open) => { status.textContent = open ? '' : text('lost'); });
}

document.getElementById('logout').addEventListener('click', async () => {
  await call('POST', 'logout').catch(() => {});
  location.assign('index.html');
});
applyTexts(showAll);
start();

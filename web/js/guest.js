// A room's tablet (or a guest's phone): the room's name and big − and + for what its link
// allows (music, microphones, and what the technician added), within the guests' limits.
// Paired by the link's address: its code is in the fragment (#pair=...), which the browser
// never sends; the page sends it once, in a request's body, and takes it out of the address.
// When the server no longer knows the tablet (restarted, the link ended or its time over) the
// page says so and asks for a new code; while it cannot vouch for the values, it shows "?" and
// turns the controls off.
import { call, events } from './api.js';
import { element } from './page.js';
import { applyTexts, describe, language, text } from './texts.js';

const kRoomKey = 'zev720.guestRoom';
const kUntilKey = 'zev720.guestUntil';
const status = document.getElementById('status');
const pairing = document.getElementById('pairing');
const controls = document.getElementById('controls');
const until = document.getElementById('until');
const heading = document.getElementById('room-name');

let room = null;      // the room as the server last told it
let allowed = [];     // { name, title, english } the guest may change
let limitEnds = {};   // name -> ['top'|'bottom'] where a step would change nothing
let live = false;
let untilTime = localStorage.getItem(kUntilKey) || '';
const cards = new Map(); // name -> { output, down, up, note, title }

function say(message) {
  status.textContent = message;
}

// The server does not know this browser as the room's guest: what to do, and nothing else.
function needPairing(code) {
  localStorage.removeItem(kRoomKey);
  localStorage.removeItem(kUntilKey);
  untilTime = '';
  room = null;
  live = false;
  controls.replaceChildren();
  cards.clear();
  until.textContent = '';
  heading.textContent = text('guestTitle');
  pairing.dataset.code = code || '';
  pairing.textContent = text(code === 'restarted' ? 'guestRestarted'
    : code === 'session-ended' ? 'guestEnded'
      : code === 'pairing-code-not-good' ? 'problem.pairing-code-not-good' : 'guestPair');
  pairing.hidden = false;
  say('');
}

async function pairFromAddress() {
  const found = /^#pair=([A-Za-z0-9_-]{1,64})$/.exec(location.hash);
  if (!found) return true;
  history.replaceState(null, '', location.pathname);
  try {
    const answer = await call('POST', 'pair', { code: found[1] }, undefined, { toLogin: false });
    localStorage.setItem(kRoomKey, answer.room);
    localStorage.setItem(kUntilKey, answer.until);
    untilTime = answer.until;
    return true;
  } catch (error) {
    needPairing(error.data && error.data.code);
    return false;
  }
}

function titleOf(register) {
  return language() === 'en' ? register.english : register.title;
}

function build() {
  controls.replaceChildren();
  cards.clear();
  for (const register of allowed) {
    const card = element('section', 'guest-control');
    const title = element('h2', '', titleOf(register));
    const output = element('output', 'guest-value', '?');
    const down = element('button', 'guest-step', '−');
    const up = element('button', 'guest-step', '+');
    for (const button of [down, up]) button.type = 'button';
    const note = element('p', 'guest-note');
    note.setAttribute('aria-live', 'polite');
    down.addEventListener('click', () => step(register.name, -1));
    up.addEventListener('click', () => step(register.name, 1));
    const row = element('div', 'guest-row');
    row.append(down, output, up);
    card.append(title, row, note);
    controls.append(card);
    cards.set(register.name, { output, down, up, note, title, register });
  }
  update();
}

function update() {
  if (!room) return;
  heading.textContent = room.name;
  for (const [name, card] of cards) {
    const value = room.registers.find((r) => r.name === name);
    const online = live && room.state === 'online' && value;
    const ends = [...((room.ends || {})[name] || []), ...(limitEnds[name] || [])];
    card.title.textContent = titleOf(card.register);
    card.output.textContent = online ? value.shown : '?';
    card.down.disabled = !online || ends.includes('bottom');
    card.up.disabled = !online || ends.includes('top');
    card.down.setAttribute('aria-label', `${titleOf(card.register)} −`);
    card.up.setAttribute('aria-label', `${titleOf(card.register)} +`);
    card.note.textContent = !online ? '' : ends.includes('top') ? text('atTop') : ends.includes('bottom') ? text('atBottom') : '';
  }
  // The venue's time of day, as the server wrote it (the guest's phone may be in another zone).
  until.textContent = untilTime ? text('guestUntil', { time: untilTime.slice(11, 16) }) : '';
}

async function step(name, by) {
  try {
    const answer = await call('PATCH', `rooms/${encodeURIComponent(room.name)}/registers`,
      { registers: [{ name, step: by }] }, undefined, { toLogin: false });
    say(answer.limited ? text(by > 0 ? 'atTop' : 'atBottom') : '');
  } catch (error) {
    if (error.status === 401) return needPairing(error.data && error.data.code);
    say(error.message);
  }
}

function take(next) {
  room = next;
  limitEnds = (next.limitEnds && next.limitEnds.guest) || {};
}

function onEvent(message) {
  if (message.type === 'hello') {
    const mine = message.rooms && message.rooms[0];
    if (!mine) return needPairing('session-ended');
    allowed = message.guest || allowed;
    take(mine);
    build();
  } else if (!room) {
    return;
  } else if (message.type === 'room' && message.room.name === room.name) {
    take({ ...message.room, registers: message.room.registers });
  } else if (message.type === 'state' && message.room === room.name) {
    room.state = message.state;
  } else if (message.type === 'change' && message.room === room.name && message.register) {
    const value = room.registers.find((r) => r.name === message.register.name);
    if (value) Object.assign(value, message.register);
    if (message.ends) room.ends = message.ends;
    if (message.limitEnds) limitEnds = message.limitEnds.guest || {};
  }
  update();
}

async function start() {
  applyTexts(() => { if (room) build(); else if (!pairing.hidden) needPairing(pairing.dataset.code); });
  if (!await pairFromAddress()) return;
  const name = localStorage.getItem(kRoomKey);
  if (!name) return needPairing('');
  try {
    const first = await call('GET', `rooms/${encodeURIComponent(name)}`, undefined, undefined, { toLogin: false });
    take(first);
  } catch (error) {
    if (error.status === 401 || error.status === 403) return needPairing(error.data && error.data.code);
    say(describe(error.data, error.message));
    return;
  }
  pairing.hidden = true;
  events(onEvent, (state) => {
    live = state === 'live';
    say(live ? '' : text('stale'));
    update();
  }, { check: `rooms/${encodeURIComponent(name)}`, gone: (code) => needPairing(code) });
}

// A new code opened on the page already showing (a fragment alone changes): paired afresh.
addEventListener('hashchange', () => { if (location.hash.startsWith('#pair=')) location.reload(); });
start();

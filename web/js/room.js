// One room for a technician: the panel's three pages of controls built from the server's
// layout, kept live from the event stream; A/B comparison; undo and redo of this page's steps
// through the server's history (a slider drag is one step); the room's history as a list.
// The server applies the panel's rules (coupled bars, modes): the page sends what was moved
// and shows what the processor confirmed. A graphic EQ (a group whose bars are named by their
// frequencies) is drawn as the panel draws it, upright bars side by side. While the page cannot
// vouch for what it shows, the room's state is unknown and every control is off.
import { call, events } from './api.js';
import { element, isTechnician, later, startPage } from './page.js';
import { reasonText, said, text, timeText, useGlossary } from './texts.js';

const roomName = new URLSearchParams(location.search).get('room') || '';
const registers = new Map(); // machine name -> { value, shown, title }
const controls = new Map();  // machine name -> { node, set(), inputs: [] }
const status = document.getElementById('status');
const stateLine = document.getElementById('room-state');
let state = 'connecting';
let room = {};              // the room as last told (state, reason, reasonCode)
let live = false;           // the stream's hello is in and the server is heard
let fixed = null;            // the fixed DSP mode control: { name, first }
const path = `rooms/${encodeURIComponent(roomName)}`;

function say(message) {
  status.textContent = message;
}

// ---- sending: one request at a time, the latest value of each register wins ----
const pending = new Map();
let inFlight = false;
let step = null;             // the step being made: { ids, after, open }
const undoStack = [];
const redoStack = [];

function beginStep() {
  if (!step) step = { ids: [], after: {}, open: true };
}

function endStep() {
  if (step) step.open = false;
  finishStep();
}

function finishStep() {
  if (!step || step.open || inFlight || pending.size) return;
  if (step.ids.length) {
    undoStack.push(step);
    redoStack.length = 0;
  }
  step = null;
  showUndo();
}

function queue(name, value) {
  beginStep();
  pending.set(name, value);
  pump();
}

async function pump() {
  if (inFlight || !pending.size) return finishStep();
  const list = [...pending].map(([name, value]) => ({ name, value }));
  pending.clear();
  inFlight = true;
  try {
    const answer = await call('PATCH', `${path}/registers`, { registers: list });
    if (step) {
      step.ids.push(...answer.ids);
      for (const r of answer.registers) step.after[r.name] = r.value;
    }
    for (const r of answer.registers) take({ type: 'change', room: roomName, register: r });
  } catch (error) {
    say(error.message);
    showAll(); // back to what the processor holds
  }
  inFlight = false;
  pump();
}

async function sendWhole(values, label) {
  const list = Object.entries(values).filter(([name, value]) => registers.get(name)?.value !== value)
    .map(([name, value]) => ({ name, value }));
  if (!list.length) return { ids: [], count: 0 };
  const answer = await call('PATCH', `${path}/registers`, { registers: list, rules: false });
  const after = {};
  for (const r of answer.registers) {
    after[r.name] = r.value;
    take({ type: 'change', room: roomName, register: r });
  }
  if (answer.ids.length) undoStack.push({ ids: answer.ids, after, label });
  showUndo();
  return { ids: answer.ids, count: list.length };
}

async function undo() {
  const last = undoStack.pop();
  if (!last) return say(text('nothingUndo'));
  try {
    await call('POST', `${path}/undo`, { ids: last.ids });
    redoStack.push(last);
  } catch (error) {
    undoStack.push(last);
    say(error.message);
  }
  showUndo();
}

async function redo() {
  const next = redoStack.pop();
  if (!next) return say(text('nothingRedo'));
  try {
    const answer = await call('PATCH', `${path}/registers`, {
      registers: Object.entries(next.after).map(([name, value]) => ({ name, value })), rules: false,
    });
    undoStack.push({ ids: answer.ids, after: next.after });
  } catch (error) {
    redoStack.push(next);
    say(error.message);
  }
  showUndo();
}

function showUndo() {
  document.getElementById('undo').disabled = !undoStack.length;
  document.getElementById('redo').disabled = !redoStack.length;
}

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
    const { count } = await sendWhole(ab[side], side);
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
  if (!node.effect || !fixed) return false;
  const mode = registers.get(fixed.name);
  return Boolean(mode && mode.value >= fixed.first);
}

function makeBar(node, parent, upright = false) {
  const id = `c-${node.name}`;
  const box = element('div', upright ? 'bar band' : 'bar');
  const label = element('label', '', said(node.hideCaption ? node.title : node.caption));
  label.htmlFor = id;
  const input = element('input');
  Object.assign(input, { type: 'range', id, min: 0, max: node.positions.length - 1, step: 1 });
  input.setAttribute('aria-label', said(node.title));
  const output = element('output', 'value');
  output.htmlFor = id;
  box.append(label, input, output);
  parent.append(box);
  const last = node.positions.length - 1;
  // The window's bars stand upright with their top at the first position; here the top is
  // at the right.
  let dragging = false;
  input.addEventListener('pointerdown', () => { dragging = true; });
  input.addEventListener('input', () => {
    const [value, shown] = node.positions[last - Number(input.value)];
    output.textContent = said(shown);
    input.setAttribute('aria-valuetext', said(shown));
    queue(node.name, value);
  });
  input.addEventListener('change', () => { dragging = false; endStep(); });
  controls.set(node.name, {
    node,
    inputs: [input],
    set(register) {
      output.textContent = said(register.shown);
      input.setAttribute('aria-valuetext', said(register.shown));
      if (dragging) return;
      const index = node.positions.findIndex(([value]) => value === register.value);
      if (index >= 0) input.value = String(last - index);
    },
  });
}

function makeRadio(node, parent) {
  const box = element('fieldset', 'radio');
  box.append(element('legend', '', said(node.caption)));
  const inputs = [];
  for (const [value, caption] of node.choices) {
    const label = element('label');
    const input = element('input');
    Object.assign(input, { type: 'radio', name: `r-${node.name}`, value: String(value) });
    input.addEventListener('change', () => { if (input.checked) { queue(node.name, value); endStep(); } });
    label.append(input, ` ${said(caption)}`);
    box.append(label);
    inputs.push(input);
  }
  parent.append(box);
  const control = controls.get(node.name) || { node, inputs: [], parts: [] };
  control.inputs.push(...inputs);
  control.parts.push((register) => {
    for (const input of inputs) input.checked = Number(input.value) === register.value;
  });
  control.set = (register) => control.parts.forEach((part) => part(register));
  controls.set(node.name, control);
}

function makeFixed(node, parent) {
  fixed = { name: node.name, first: node.modes[0][0] };
  const box = element('div', 'fixed');
  const label = element('label');
  const radio = element('input');
  Object.assign(radio, { type: 'radio', name: `r-${node.name}`, value: 'fixed' });
  label.append(radio, ` ${said(node.modes[0][1]).replace(/\s*P\d+$/, '')}`);
  const numberLabel = element('label');
  const number = element('input');
  Object.assign(number, { type: 'number', min: node.modes[0][0], max: node.modes[node.modes.length - 1][0], value: node.modes[0][0] });
  numberLabel.append(element('span', '', 'P'), number);
  number.dataset.label = 'fixedNumber';
  number.setAttribute('aria-label', text('fixedNumber'));
  const send = () => {
    const n = Math.min(Number(number.max), Math.max(Number(number.min), Math.round(Number(number.value) || 0)));
    number.value = String(n);
    queue(node.name, n);
    endStep();
  };
  radio.addEventListener('change', () => { if (radio.checked) send(); });
  number.addEventListener('change', () => { if (radio.checked) send(); });
  box.append(label, numberLabel);
  parent.append(box);
  const control = controls.get(node.name) || { node, inputs: [], parts: [] };
  control.inputs.push(radio);
  control.parts.push((register) => {
    radio.checked = register.value >= fixed.first;
    number.disabled = !radio.checked || state !== 'online';
    if (radio.checked && document.activeElement !== number) number.value = String(register.value);
  });
  control.set = (register) => control.parts.forEach((part) => part(register));
  controls.set(node.name, control);
}

function makeCheck(node, parent) {
  const label = element('label', 'check');
  const input = element('input');
  input.type = 'checkbox';
  input.addEventListener('change', () => { queue(node.name, input.checked ? node.on : node.off); endStep(); });
  label.append(input, ` ${said(node.caption)}`);
  parent.append(label);
  controls.set(node.name, { node, inputs: [input], set(register) { input.checked = register.value === node.on; } });
}

// A group of bars named by frequencies ("57Hz", "2.2KHz"): a graphic EQ.
function isEq(node) {
  const bars = node.children.filter((c) => c.kind === 'bar');
  return bars.length >= 3 && bars.every((b) => /^\d+(\.\d+)?K?Hz$/.test(b.caption));
}

function build(node, parent) {
  if (node.kind === 'bar') return makeBar(node, parent);
  if (node.kind === 'radio') return makeRadio(node, parent);
  if (node.kind === 'fixed') return makeFixed(node, parent);
  if (node.kind === 'check') return makeCheck(node, parent);
  let box;
  if (node.kind === 'group' || node.kind === 'panel') {
    box = element('fieldset', node.kind);
    box.append(element('legend', '', said(node.caption || node.title)));
  } else {
    box = element('div', node.kind);
  }
  if (node.kind === 'group' && isEq(node)) {
    box.classList.add('eq-group');
    const strip = element('div', 'eq');
    for (const child of node.children) {
      if (child.kind === 'bar') makeBar(child, strip, true);
      else build(child, box);
    }
    box.append(strip);
  } else {
    for (const child of node.children) build(child, box);
  }
  parent.append(box);
}

function buildPages(layout) {
  const tabs = document.getElementById('tabs');
  const panels = document.getElementById('panels');
  const tabButtons = [];
  layout.pages.forEach((page, i) => {
    const tab = element('button', 'tab', said(page.caption));
    Object.assign(tab, { type: 'button', id: `tab-${i}` });
    tab.setAttribute('role', 'tab');
    tab.setAttribute('aria-controls', `page-${i}`);
    const panel = element('section', 'page');
    panel.id = `page-${i}`;
    panel.setAttribute('role', 'tabpanel');
    panel.setAttribute('aria-labelledby', tab.id);
    for (const child of page.children) build(child, panel);
    tabs.append(tab);
    panels.append(panel);
    tabButtons.push(tab);
  });
  const choose = (i, focus) => {
    tabButtons.forEach((tab, k) => {
      tab.setAttribute('aria-selected', String(k === i));
      tab.tabIndex = k === i ? 0 : -1;
      document.getElementById(`page-${k}`).hidden = k !== i;
    });
    if (focus) tabButtons[i].focus();
    sessionStorage.setItem('zev720.page', String(i));
  };
  tabButtons.forEach((tab, i) => {
    tab.addEventListener('click', () => choose(i, false));
    tab.addEventListener('keydown', (event) => {
      const move = { ArrowRight: 1, ArrowLeft: -1 }[event.key];
      if (move) choose((i + move + tabButtons.length) % tabButtons.length, true);
      if (event.key === 'Home') choose(0, true);
      if (event.key === 'End') choose(tabButtons.length - 1, true);
    });
  });
  choose(Math.min(Number(sessionStorage.getItem('zev720.page') || 0), tabButtons.length - 1), false);
}

function showState() {
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
    if (fixed && event.register.name === fixed.name) showAll();
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
  buildPages(layout);
  await load();
  keepAb();
  showUndo();
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
document.getElementById('undo').addEventListener('click', undo);
document.getElementById('redo').addEventListener('click', redo);
document.addEventListener('keydown', (event) => {
  const typing = event.target instanceof HTMLInputElement && event.target.type === 'number';
  if (typing || event.altKey || event.metaKey) return;
  const key = event.key.toLowerCase();
  if (key === 'x' && !event.ctrlKey) { event.preventDefault(); switchAb(); }
  if (event.ctrlKey && key === 'z' && !event.shiftKey) { event.preventDefault(); undo(); }
  if (event.ctrlKey && (key === 'y' || (key === 'z' && event.shiftKey))) { event.preventDefault(); redo(); }
});
start();

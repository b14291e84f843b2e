// The panel's three pages of controls, built from the server's layout: bars (a graphic EQ as
// the panel draws it, upright bars side by side), mode buttons, the fixed DSP mode with its
// number, switches; the pages as tabs. What a control does when moved, and whether the page
// is online, are the page's (`ctx`):
//   ctx.queue(name, value), ctx.endStep()   a move, and its end
//   ctx.online()                            the room is online and the page live
//   ctx.controls                            name -> { node, inputs, set(register) }, filled here
//   ctx.fixed                               the fixed DSP mode control, { name, first }, set here
import { element } from './page.js';
import { said, text } from './texts.js';

function makeBar(ctx, node, parent, upright = false) {
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
    ctx.queue(node.name, value);
  });
  input.addEventListener('change', () => { dragging = false; ctx.endStep(); });
  ctx.controls.set(node.name, {
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

function makeRadio(ctx, node, parent) {
  const box = element('fieldset', 'radio');
  box.append(element('legend', '', said(node.caption)));
  const inputs = [];
  for (const [value, caption] of node.choices) {
    const label = element('label');
    const input = element('input');
    Object.assign(input, { type: 'radio', name: `r-${node.name}`, value: String(value) });
    input.addEventListener('change', () => { if (input.checked) { ctx.queue(node.name, value); ctx.endStep(); } });
    label.append(input, ` ${said(caption)}`);
    box.append(label);
    inputs.push(input);
  }
  parent.append(box);
  const control = ctx.controls.get(node.name) || { node, inputs: [], parts: [] };
  control.inputs.push(...inputs);
  control.parts.push((register) => {
    for (const input of inputs) input.checked = Number(input.value) === register.value;
  });
  control.set = (register) => control.parts.forEach((part) => part(register));
  ctx.controls.set(node.name, control);
}

function makeFixed(ctx, node, parent) {
  ctx.fixed = { name: node.name, first: node.modes[0][0] };
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
    ctx.queue(node.name, n);
    ctx.endStep();
  };
  radio.addEventListener('change', () => { if (radio.checked) send(); });
  number.addEventListener('change', () => { if (radio.checked) send(); });
  box.append(label, numberLabel);
  parent.append(box);
  const control = ctx.controls.get(node.name) || { node, inputs: [], parts: [] };
  control.inputs.push(radio);
  control.parts.push((register) => {
    radio.checked = register.value >= ctx.fixed.first;
    number.disabled = !radio.checked || !ctx.online();
    if (radio.checked && document.activeElement !== number) number.value = String(register.value);
  });
  control.set = (register) => control.parts.forEach((part) => part(register));
  ctx.controls.set(node.name, control);
}

function makeCheck(ctx, node, parent) {
  const label = element('label', 'check');
  const input = element('input');
  input.type = 'checkbox';
  input.addEventListener('change', () => { ctx.queue(node.name, input.checked ? node.on : node.off); ctx.endStep(); });
  label.append(input, ` ${said(node.caption)}`);
  parent.append(label);
  ctx.controls.set(node.name, { node, inputs: [input], set(register) { input.checked = register.value === node.on; } });
}

// A group of bars named by frequencies ("57Hz", "2.2KHz"): a graphic EQ.
function isEq(node) {
  const bars = node.children.filter((c) => c.kind === 'bar');
  return bars.length >= 3 && bars.every((b) => /^\d+(\.\d+)?K?Hz$/.test(b.caption));
}

function build(ctx, node, parent) {
  if (node.kind === 'bar') return makeBar(ctx, node, parent);
  if (node.kind === 'radio') return makeRadio(ctx, node, parent);
  if (node.kind === 'fixed') return makeFixed(ctx, node, parent);
  if (node.kind === 'check') return makeCheck(ctx, node, parent);
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
      if (child.kind === 'bar') makeBar(ctx, child, strip, true);
      else build(ctx, child, box);
    }
    box.append(strip);
  } else {
    for (const child of node.children) build(ctx, child, box);
  }
  parent.append(box);
}

export function buildPages(layout, ctx) {
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
    for (const child of page.children) build(ctx, child, panel);
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

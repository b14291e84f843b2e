// The room page's snapshots: the nights the server kept this room's settings, one compared
// with the room now (register by register, as the processor shows them), and one taken now.
import { call } from './api.js';
import { element } from './page.js';
import { said, text } from './texts.js';

const roomName = new URLSearchParams(location.search).get('room') || '';
const choice = document.getElementById('snapshot-date');
const said_ = document.getElementById('snapshot-said');
const list = document.getElementById('snapshot-differences');

async function loadDates() {
  try {
    const { dates } = await call('GET', `rooms/${encodeURIComponent(roomName)}/snapshots`);
    choice.replaceChildren(...dates.map((date) => Object.assign(element('option', '', date), { value: date })));
    said_.textContent = dates.length ? '' : text('snapshotNone');
  } catch {
    choice.replaceChildren();
  }
  document.getElementById('snapshot-compare').disabled = !choice.value;
}

document.getElementById('snapshot-compare').addEventListener('click', async () => {
  if (!choice.value) return;
  try {
    const { differences } = await call('GET', `rooms/${encodeURIComponent(roomName)}/snapshots/${choice.value}`);
    list.replaceChildren(...differences.map((d) =>
      element('li', '', `${said(d.title)}: ${said(d.a.shown)} → ${said(d.b.shown)}`)));
    said_.textContent = differences.length ? '' : text('snapshotSame');
  } catch (error) {
    said_.textContent = error.message;
  }
});

document.getElementById('snapshot-take').addEventListener('click', async () => {
  try {
    await call('POST', 'snapshots');
    await loadDates();
  } catch (error) {
    said_.textContent = error.message;
  }
});

loadDates();

// The room page's tablet section: a technician makes a link for the room's tablet (until a
// time of the venue's clock, with the echo or the key allowed besides the volumes), and the
// page draws its address as a QR code from the modules the server gives, to print or to show
// on the tablet. The pairing code is shown this once; the server keeps its hash alone.
import { call } from './api.js';
import { text } from './texts.js';

const roomName = new URLSearchParams(location.search).get('room') || '';
const path = `rooms/${encodeURIComponent(roomName)}/links`;
const made = document.getElementById('link-made');
const state = document.getElementById('links-state');
const kSvg = 'http://www.w3.org/2000/svg';

// The modules as squares on a white ground with a quiet zone of four modules.
function drawQr(svg, rows) {
  const size = rows.length + 8;
  svg.setAttribute('viewBox', `0 0 ${size} ${size}`);
  svg.setAttribute('shape-rendering', 'crispEdges');
  const ground = document.createElementNS(kSvg, 'rect');
  ground.setAttribute('width', size);
  ground.setAttribute('height', size);
  ground.setAttribute('fill', '#fff');
  let d = '';
  rows.forEach((row, y) => {
    for (let x = 0; x < row.length; ++x) if (row[x] === '1') d += `M${x + 4} ${y + 4}h1v1h-1z`;
  });
  const modules = document.createElementNS(kSvg, 'path');
  modules.setAttribute('d', d);
  modules.setAttribute('fill', '#000');
  svg.replaceChildren(ground, modules);
}

async function showLinks() {
  try {
    const { links } = await call('GET', path);
    state.textContent = links.some((l) => l.paired) ? text('tabletLive') : '';
  } catch {
    state.textContent = '';
  }
}

document.getElementById('link-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const registers = [];
  if (document.getElementById('allow-echo').checked) registers.push('EchoLevelTrackBar');
  if (document.getElementById('allow-key').checked) registers.push('MusicKeyTrackBar');
  try {
    const answer = await call('POST', path, { until: document.getElementById('link-until').value, registers });
    drawQr(document.getElementById('link-qr'), answer.qr);
    document.getElementById('link-url').textContent = answer.url;
    made.hidden = false;
    state.textContent = '';
  } catch (error) {
    state.textContent = error.message;
  }
});

document.getElementById('end-links').addEventListener('click', async () => {
  try {
    await call('DELETE', path);
    made.hidden = true;
    state.textContent = `${text('endTablet')} — ${text('ended')}`;
  } catch (error) {
    state.textContent = error.message;
  }
});

document.getElementById('link-print').addEventListener('click', () => print());
showLinks();

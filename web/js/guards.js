// The presets page's limits, schedule and backup, for technicians: each as the server reads it (its
// JSON, checked strictly: a refusal names the line), with what is in force now and what will
// run in the next 24 hours. Saved whole; the server keeps them in its state folder.
import { call } from './api.js';
import { element } from './page.js';
import { text, timeText } from './texts.js';

const limitList = document.getElementById('limit-list');
const tonight = document.getElementById('tonight');

function limitText(limit) {
  const bounds = [limit.max && `≤ ${limit.max}`, limit.min && `≥ ${limit.min}`].filter(Boolean).join(' ');
  const where = [limit.hours, limit.rooms, limit.set && `[${limit.set}]`].filter(Boolean).join(' ');
  return `${text(limit.role)}: ${limit.register} ${bounds}${where ? ` (${where})` : ''} — ${text(limit.inForce ? 'inForce' : 'notInForce')}`;
}

async function loadLimits() {
  try {
    const answer = await call('GET', 'limits');
    limitList.replaceChildren(...answer.limits.map((l) => element('li', l.inForce ? 'in-force' : '', limitText(l))));
    const { limits, off } = answer;
    document.getElementById('limits-text').value = JSON.stringify({
      limits: limits.map(({ inForce, ...kept }) => kept), ...(off.length ? { off } : {}),
    }, null, 2);
  } catch (error) {
    document.getElementById('limits-said').textContent = error.message;
  }
}

function showSchedule(answer) {
  tonight.replaceChildren(...(answer.tonight.length ? answer.tonight.map((run) => {
    const what = run.recall ? `${text('recall')} “${run.recall}”` : run.lock ? text('lock') : text('limits');
    const rooms = run.rooms.length ? run.rooms.join(', ') : '';
    return element('li', '', `${timeText(run.at)} ${run.name}: ${what}${rooms ? ` → ${rooms}` : ''}`);
  }) : [element('li', '', text('noEntries'))]));
  document.getElementById('schedule-text').value = JSON.stringify({ entries: answer.entries }, null, 2);
}

async function loadSchedule() {
  try {
    showSchedule(await call('GET', 'schedule'));
  } catch (error) {
    document.getElementById('schedule-said').textContent = error.message;
  }
}

// A refusal as the server words it for a file's editor: the line and the field at fault.
function detailOf(error) {
  return error.data && error.data.detail ? `${error.message}: ${error.data.detail}` : error.message;
}

// The text as JSON, or the browser's reason why it is not.
function parsed(textarea, said) {
  try {
    return JSON.parse(textarea.value);
  } catch (error) {
    said.textContent = error.message;
    return undefined;
  }
}

// A file's text saved as written (its lines are the server's), the refusal shown with them.
function saving(kind, done) {
  document.getElementById(`${kind}-form`).addEventListener('submit', async (event) => {
    event.preventDefault();
    const said = document.getElementById(`${kind}-said`);
    said.textContent = '';
    const textarea = document.getElementById(`${kind}-text`);
    if (parsed(textarea, said) === undefined) return;
    try {
      await done(await call('PUT', kind, textarea.value, 'application/json'));
      said.textContent = text(`${kind}Saved`);
    } catch (error) {
      said.textContent = detailOf(error);
    }
  });
}

// The venue's backup, made by the server and saved by the browser under the server's name.
document.getElementById('backup-download').addEventListener('click', async () => {
  const said = document.getElementById('backup-said');
  said.textContent = text('backupMaking');
  try {
    const response = await call('GET', 'backup', undefined, undefined, { response: true, timeout: 120000 });
    const name = /filename="([^"]+)"/.exec(response.headers.get('Content-Disposition') || '');
    const link = document.createElement('a');
    link.href = URL.createObjectURL(await response.blob());
    link.download = name ? name[1] : 'zev720d-backup.tar.gz';
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    said.textContent = text('backupDone');
  } catch (error) {
    said.textContent = detailOf(error);
  }
});

saving('limits', () => loadLimits());
saving('schedule', (answer) => showSchedule(answer));

// The lists again in the other language, when the page's switch is used.
new MutationObserver(() => { loadLimits(); loadSchedule(); })
  .observe(document.documentElement, { attributes: true, attributeFilter: ['lang'] });
loadLimits();
loadSchedule();

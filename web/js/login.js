// The login: why the browser was sent here (the server restarted, the session ended), and back
// to the page it came from once logged in.
import { call } from './api.js';
import { applyTexts, describe, text, translated } from './texts.js';

const form = document.getElementById('login');
const message = document.getElementById('message');
const reason = document.getElementById('reason');
const query = new URLSearchParams(location.search);
// Only a page of this site, never another address.
const next = /^(venue|room|presets)\.html(\?[^#]*)?$/.test(query.get('next') || '') ? query.get('next') : 'venue.html';

function showReason() {
  const key = `reason-${query.get('reason')}`;
  reason.textContent = query.get('reason') && translated(key) ? text(key) : '';
}
applyTexts(showReason);
showReason();
form.addEventListener('submit', async (event) => {
  event.preventDefault();
  message.textContent = '';
  try {
    await call('POST', 'login', { user: form.user.value, password: form.password.value }, undefined,
      { timeout: 20000 });
    location.assign(next);
  } catch (error) {
    message.textContent = error.status === 401 ? text('wrong') : error.status === 429 ? text('wait')
      : describe(error.data, error.message);
    form.password.select();
  }
});

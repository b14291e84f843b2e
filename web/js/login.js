import { call } from './api.js';
import { applyTexts, text } from './texts.js';

applyTexts();
const form = document.getElementById('login');
const message = document.getElementById('message');
form.addEventListener('submit', async (event) => {
  event.preventDefault();
  message.textContent = '';
  try {
    await call('POST', 'login', { user: form.user.value, password: form.password.value });
    location.assign('venue.html');
  } catch (error) {
    message.textContent = error.status === 429 ? text('wait') : text('wrong');
    form.password.select();
  }
});

// What every page after the login shares: who is logged in, the pages their role may open,
// the language switch and logging out.
import { call } from './api.js';
import { applyTexts, text } from './texts.js';

const ranks = { viewer: 0, desk: 1, technician: 2 };

// The user, once known; sends the browser to the login when there is no session.
export async function startPage(onLanguage) {
  let me;
  try {
    me = await call('GET', 'me');
  } catch (error) {
    if (error.status !== 401) location.assign('index.html'); // a 401 goes to the login by itself
    return null;
  }
  const who = document.getElementById('who');
  const showWho = () => { who.textContent = `${me.user} (${text(me.role)})`; };
  for (const element of document.querySelectorAll('[data-role]'))
    element.hidden = ranks[me.role] < ranks[element.dataset.role];
  document.getElementById('logout').addEventListener('click', async () => {
    await call('POST', 'logout').catch(() => {});
    location.assign('index.html');
  });
  applyTexts(() => { showWho(); if (onLanguage) onLanguage(); });
  showWho();
  return me;
}

export function mayChange(me) {
  return ranks[me.role] >= ranks.desk;
}

export function isTechnician(me) {
  return me.role === 'technician';
}

// Calls `work` once, `ms` after the first of any number of requests for it: a stream of
// events makes one call every `ms` at most, never none.
export function later(work, ms) {
  let timer = 0;
  return () => {
    if (timer) return;
    timer = setTimeout(() => { timer = 0; work(); }, ms);
  };
}

// An element with its class and text.
export function element(tag, className, content) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (content !== undefined) made.textContent = content;
  return made;
}

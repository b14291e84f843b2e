// The venue server's API as the pages use it: JSON over fetch with the session cookie, and the
// event stream. Everything the pages show comes from here, and nothing stale passes for live:
//   - the server's clock: every hello and ping says what it is, and a change says when it was
//     made by it (Zev720-Made-At), so that the server refuses one that a held network
//     delivers late; no clock of the phone is trusted;
//   - a change not answered within 5 s is given up with a message, never sent again by itself;
//   - the stream: a page that hears nothing for 10 s (the server pings every 4 s) says the
//     values are stale and reconnects; when the server no longer knows the session (restarted,
//     logged out) the browser goes to the login, which brings it back to this page.
import { describe, text } from './texts.js';

export const kChangeTimeoutMs = 5000;
export const kSilenceMs = 10000;

let clock = null; // the server's clock as last heard: { now, at } (performance.now())

/// The server's clock now, as far as the page can tell; null before the first word.
export function serverNow() {
  return clock ? Math.round(clock.now + performance.now() - clock.at) : null;
}

function heard(now) {
  if (typeof now === 'number') clock = { now, at: performance.now() };
}

export class ApiError extends Error {
  constructor(message, status, data) {
    super(message);
    this.status = status;
    this.data = data;
  }
}

// The login, with the reason, and back to this page afterwards.
export function toLogin(code) {
  const back = location.pathname.replace(/^.*\//, '') + location.search;
  location.assign(`index.html?reason=${encodeURIComponent(code || 'no-login')}&next=${encodeURIComponent(back)}`);
}

export async function call(method, path, body, type, options = {}) {
  const raw = type !== undefined;
  const changes = method !== 'GET' && method !== 'HEAD';
  const headers = body === undefined ? {} : { 'Content-Type': raw ? type : 'application/json' };
  if (changes && serverNow() !== null) headers['Zev720-Made-At'] = String(serverNow());
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), options.timeout ?? (changes ? kChangeTimeoutMs : 15000));
  let response;
  try {
    response = await fetch(`/api/v1/${path}`, {
      method, headers, body: body === undefined ? undefined : raw ? body : JSON.stringify(body),
      credentials: 'same-origin', signal: controller.signal,
    });
  } catch (error) {
    const code = error.name === 'AbortError' ? 'timed-out' : 'unreachable';
    throw new ApiError(text(code), 0, { code });
  } finally {
    clearTimeout(timer);
  }
  if (response.ok && options.response) return response; // a file: the caller reads it
  const data = await response.json().catch(() => ({}));
  if (!response.ok) {
    if (response.status === 401 && path !== 'login' && options.toLogin !== false) toLogin(data.code);
    throw new ApiError(describe(data, response.statusText), response.status, data);
  }
  return data;
}

// Calls `onMessage` with each event and `onState` with the stream's state: 'live' once the
// server's hello is in, 'stale' when the page can no longer vouch for what it shows.
// `options.check`: what is asked to learn whether the server is back (`me` unless given);
// `options.gone(code)`: called in place of going to the login when it no longer knows us.
export function events(onMessage, onState, options = {}) {
  let socket = null;
  let gone = false;
  let lastWord = 0;
  let retry = 0;
  const drop = () => {
    if (!socket) return;
    const old = socket;
    socket = null;
    old.onopen = old.onmessage = old.onclose = old.onerror = null;
    try { old.close(); } catch { /* already closed */ }
  };
  // Away, or has it forgotten us? /me answers 401 (the login follows) or, once it is back, lets
  // the stream be opened again.
  const check = async () => {
    clearTimeout(retry);
    try {
      await call('GET', options.check || 'me', undefined, undefined, { timeout: 4000, toLogin: !options.gone });
      open();
    } catch (error) {
      if (options.gone && (error.status === 401 || error.status === 403)) {
        gone = true;
        options.gone(error.data && error.data.code);
      } else if (error.status !== 401) {
        retry = setTimeout(check, 2000);
      }
    }
  };
  const lost = () => {
    drop();
    onState('stale');
    clearTimeout(retry);
    retry = setTimeout(check, 500);
  };
  const open = () => {
    drop();
    if (gone) return;
    lastWord = performance.now();
    socket = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/api/v1/events`);
    socket.onmessage = (event) => {
      lastWord = performance.now();
      const message = JSON.parse(event.data);
      heard(message.now);
      if (message.type === 'ping') {
        socket.send('{"type":"pong"}');
        return;
      }
      if (message.type === 'hello') onState('live');
      onMessage(message);
    };
    socket.onclose = lost;
  };
  setInterval(() => { if (socket && performance.now() - lastWord > kSilenceMs) lost(); }, 1000);
  open();
}

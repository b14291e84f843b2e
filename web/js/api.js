// The venue server's API as the pages use it: JSON over fetch with the session cookie, and the
// event stream. Everything the pages show comes from here.
export async function call(method, path, body, type) {
  const raw = type !== undefined;
  const response = await fetch(`/api/v1/${path}`, {
    method,
    headers: body === undefined ? {} : { 'Content-Type': raw ? type : 'application/json' },
    body: body === undefined ? undefined : raw ? body : JSON.stringify(body),
    credentials: 'same-origin',
  });
  const data = await response.json().catch(() => ({}));
  if (!response.ok) throw Object.assign(new Error(data.detail || response.statusText), { status: response.status, data });
  return data;
}

// Calls `onMessage` with each event; reconnects after a loss, telling `onState` (true: open).
export function events(onMessage, onState) {
  let socket;
  const open = () => {
    socket = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/api/v1/events`);
    socket.onopen = () => onState(true);
    socket.onmessage = (event) => onMessage(JSON.parse(event.data));
    socket.onclose = () => { onState(false); setTimeout(open, 2000); };
  };
  open();
  return () => socket.close();
}

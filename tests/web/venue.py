"""A venue on loopback for the page tests and the page benchmark: processor emulators on TCP,
zev720d with users in a state folder of its own, and a plain HTTP client with an API token."""
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import urllib.request


NO_PROXY = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class Emulator:
    def __init__(self, build, folder, name, port=0, extra=()):
        self.build, self.folder, self.name, self.extra = build, folder, name, list(extra)
        self.log = os.path.join(folder, f'{name}.frames')
        self.dump = os.path.join(folder, f'{name}.dump')
        self.port = port
        self.start()

    def start(self):
        self.process = subprocess.Popen(
            [os.path.join(self.build, 'zev720-sim'), '--listen', f'127.0.0.1:{self.port}', '--log', self.log,
             '--dump', self.dump, *self.extra],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.line = self.process.stdout.readline().strip()
        self.port = int(self.line.rsplit(':', 1)[1])

    def registers(self):
        self.process.stdin.write('dump\n')
        self.process.stdin.flush()
        while not self.process.stdout.readline().startswith('dumped'):
            pass
        with open(self.dump, 'rb') as f:
            return f.read()

    def received(self):
        """The frames written to the processor, as (address, value), oldest first."""
        frames = []
        with open(self.log) as f:
            for line in f:
                parts = line.split()
                if len(parts) == 7 and parts[1] == 'rx':
                    frames.append((int(parts[3], 16), int(parts[4], 16)))
        return frames

    def kill(self):
        self.process.kill()
        self._end()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self._end()

    def _end(self):
        self.process.wait()
        self.process.stdin.close()
        self.process.stdout.close()


class HeldProxy:
    """A TCP proxy on loopback between the browser and the server, for a network that drops
    silently: hold() stops passing bytes either way (what arrives is kept, as a switch or a
    Wi-Fi link would keep it), release() passes on all that was kept and goes on passing."""

    def __init__(self, target_port, port=0):
        self.target = target_port
        self.holding = False
        self.lock = threading.Lock()
        self.pairs = []  # [client, server, kept toward the server, kept toward the client]
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(('127.0.0.1', port))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(('127.0.0.1', self.target))
            pair = [client, server, bytearray(), bytearray()]
            with self.lock:
                self.pairs.append(pair)
            threading.Thread(target=self._pass, args=(pair, 0, 1, 2), daemon=True).start()
            threading.Thread(target=self._pass, args=(pair, 1, 0, 3), daemon=True).start()

    def _pass(self, pair, source, sink, kept):
        while True:
            try:
                data = pair[source].recv(65536)
            except OSError:
                data = b''
            with self.lock:
                if self.holding:
                    pair[kept] += data
                    if not data:
                        return  # what was kept goes on at release(); the end with it
                    continue
            if not data:
                try:
                    pair[sink].shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                return
            try:
                pair[sink].sendall(data)
            except OSError:
                return

    def hold(self):
        with self.lock:
            self.holding = True

    def release(self):
        with self.lock:
            self.holding = False
            for pair in self.pairs:
                for kept, sink in ((2, 1), (3, 0)):
                    if pair[kept]:
                        try:
                            pair[sink].sendall(bytes(pair[kept]))
                        except OSError:
                            pass
                        pair[kept].clear()

    def close(self):
        self.listener.close()
        with self.lock:
            for pair in self.pairs:
                for end in pair[:2]:
                    end.close()


class Venue:
    """Rooms named as given; a room whose value is None has a line that leads nowhere. With
    `proxy`, the server also answers to the name of a HeldProxy in front of it (self.proxy)."""

    def __init__(self, build, rooms, users, proxy=False, environment=None):
        self.build = build
        self.environment = environment  # what the server runs with besides this process's
        self.folder = tempfile.mkdtemp(prefix='zev720-pages-')
        self.state = os.path.join(self.folder, 'state')
        self.emulators = {}
        lines = ['room, line']
        for name, extra in rooms.items():
            if extra is None:
                lines.append(f'{name}, /dev/zev720-not-here')
                continue
            self.emulators[name] = Emulator(build, self.folder, name, extra=extra)
            lines.append(f'{name}, {self.emulators[name].line}')
        with open(os.path.join(self.folder, 'venue.csv'), 'w') as f:
            f.write('\n'.join(lines) + '\n')
        for user, (role, password) in users.items():
            subprocess.run([self.zev720d, 'user', 'add', user, '--role', role, '--state', self.state],
                           input=password + '\n', text=True, check=True, stdout=subprocess.DEVNULL)
        self.token = subprocess.run([self.zev720d, 'token', 'add', next(iter(users)), 'tests', '--state', self.state],
                                    text=True, check=True, capture_output=True).stdout.split()[-1]
        # The proxy's port is chosen first: the server is told its name.
        self.proxy = None
        self.extra = []
        if proxy:
            probe = socket.socket()
            probe.bind(('127.0.0.1', 0))
            self.proxy_port = probe.getsockname()[1]
            probe.close()
            self.extra = ['--name', f'127.0.0.1:{self.proxy_port}']
        self.output = []
        self.start('127.0.0.1:0')
        if proxy:
            self.proxy = HeldProxy(int(self.base.rsplit(':', 1)[1]), self.proxy_port)
            self.proxied = f'http://127.0.0.1:{self.proxy_port}'

    def start(self, listen):
        self.output.clear()
        self.server = subprocess.Popen([self.zev720d, '--venue', os.path.join(self.folder, 'venue.csv'),
                                        '--state', self.state, '--listen', listen, '--frame-ports', '0', *self.extra],
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                       env={**os.environ, **(self.environment or {})})
        threading.Thread(target=self._read, args=(self.server,), daemon=True).start()
        self.wait_for(lambda: any(line.startswith('API: ') for line in self.output), 'the API to listen')
        api = next(line for line in self.output if line.startswith('API: '))
        self.base = api.split()[1].split('/api/')[0]
        for name in self.emulators:
            self.wait_for(lambda: f'{name}: online' in self.output, f'{name} online')

    def restart(self):
        """The server stopped and started again on the same port, its sessions gone."""
        self.stop_server()
        self.start(self.base.split('//', 1)[1])

    @property
    def zev720d(self):
        return os.path.join(self.build, 'zev720d')

    def _read(self, server):
        for line in server.stdout:
            self.output.append(line.strip())

    @staticmethod
    def wait_for(condition, what, seconds=15):
        end = time.monotonic() + seconds
        while not condition():
            if time.monotonic() > end:
                raise AssertionError(f'waited {seconds} s for {what}')
            time.sleep(0.02)

    def frame_port(self, room):
        """The port of the room's frame port, as the server printed it."""
        line = next(line for line in self.output if line.startswith(f'{room}: frame port tcp://'))
        return int(line.rsplit(':', 1)[1])

    def metrics(self):
        request = urllib.request.Request(self.base + '/metrics', headers={'Authorization': 'Bearer ' + self.token})
        with NO_PROXY.open(request, timeout=15) as reply:
            return reply.read().decode()

    def api(self, method, path, body=None):
        request = urllib.request.Request(self.base + '/api/v1/' + path, method=method,
                                         data=None if body is None else json.dumps(body).encode(),
                                         headers={'Authorization': 'Bearer ' + self.token,
                                                  **({} if body is None else {'Content-Type': 'application/json'})})
        with NO_PROXY.open(request, timeout=15) as reply:
            return json.loads(reply.read() or b'{}')

    def stop_server(self):
        """Ends the server, which must end cleanly: status 0, nothing a sanitizer found."""
        self.server.send_signal(signal.SIGTERM)
        try:
            status = self.server.wait(20)
        except subprocess.TimeoutExpired:
            self.server.kill()
            status = 'killed after 20 s'
        time.sleep(0.1)  # the last lines of its output read
        self.server.stdout.close()
        if status != 0:
            raise AssertionError(f'zev720d ended with {status}:\n' + '\n'.join(self.output[-40:]))

    def close(self):
        """Ends the server and the emulators."""
        try:
            self.stop_server()
        finally:
            if self.proxy:
                self.proxy.close()
            for emulator in self.emulators.values():
                emulator.stop()
            shutil.rmtree(self.folder, ignore_errors=True)

"""The venue server's pages in a real browser (Debian's Chromium, headless) against the real
server and processor emulators on loopback: each role, live tiles, the room page's controls,
A/B and undo, presets recalled into rooms, English, and axe-core on every page."""
import http.server
import os
import re
import shutil
import subprocess
import tempfile
import sys
import tarfile
import threading
import urllib.parse
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(__file__))
from browser import (axe, browser, log_in, no_sideways_scroll_and_buttons_hit, requests_answered, sent,  # noqa: E402
                     small_targets, tile_value, wait)
from venue import Venue  # noqa: E402

BUILD = os.environ.get('ZEV_BUILD_DIR', os.path.join(os.path.dirname(__file__), '..', '..', 'build'))
AXE = os.path.join(os.path.dirname(__file__), 'node_modules', 'axe-core', 'axe.min.js')
USERS = {'tech': ('technician', 'tech-password'), 'front': ('desk', 'desk-password'),
         'watch': ('viewer', 'viewer-password')}
MUSIC_VOLUME, MUSIC_MAX = 16, 17
READ = 252  # a read request's value: the server's quiet check, not a change


def changes(frames):
    return [f for f in frames if f[1] != READ and f[0] not in (6, 7)]


# What each page has drawn once it has what it loads; a technician's page, or what it tells a
# desk user instead.
ONLY_TECHNICIANS = ('(document.querySelector("main").children.length === 1'
                    ' && document.getElementById("status").textContent)')
DRAWN = {
    'venue.html': 'document.querySelector("[data-room]")',
    'room.html?room=A': '(document.querySelector("#panels input") && document.querySelector("#history li"))'
                        ' || ' + ONLY_TECHNICIANS,
    'presets.html': '(document.querySelector("#store-room option") && document.querySelector("#recall-rooms input"))'
                    ' || ' + ONLY_TECHNICIANS,
}


class Pages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A and B plain, C a faulty unit (register 16 stores one more than written), D nowhere.
        cls.venue = Venue(BUILD, {'A': (), 'B': (), 'C': ('--mangle', '16'), 'D': None}, USERS)
        cls.browsers = []

    @classmethod
    def tearDownClass(cls):
        for driver in cls.browsers:
            driver.quit()
        cls.venue.close()

    def open(self, user, width=1280, height=900, language='zh', network_log=False):
        driver = browser(width, height, network_log=network_log)
        self.browsers.append(driver)
        log_in(driver, self.venue.base, user, USERS[user][1], language)
        return driver

    def tile(self, driver, room):
        return driver.find_element(By.CSS_SELECTOR, f'[data-room="{room}"]')

    def test_each_role_sees_the_venue_and_the_desk_changes_a_volume(self):
        viewer = self.open('watch')
        desk = self.open('front')
        technician = self.open('tech')
        for driver in (viewer, desk, technician):
            wait(driver, lambda d: len(d.find_elements(By.CSS_SELECTOR, '.room')) == 4)
            wait(driver, lambda d: '离线' in self.tile(d, 'D').find_element(By.CLASS_NAME, 'state').text)
            self.assertEqual(self.tile(driver, 'A').find_element(By.CLASS_NAME, 'state').text, '在线')
            shown = self.venue.api('GET', 'rooms/A')['registers'][0]['shown']
            self.assertEqual(tile_value(driver, 'A', 0), shown)
            self.assertIn('没有此设备', self.tile(driver, 'D').find_element(By.CLASS_NAME, 'state').text)
        # Buttons and links as the role allows.
        self.assertFalse(self.tile(viewer, 'A').find_elements(By.CSS_SELECTOR, 'button'))
        self.assertFalse(self.tile(desk, 'A').find_elements(By.CSS_SELECTOR, 'h2 a'))
        self.assertTrue(self.tile(technician, 'A').find_elements(By.CSS_SELECTOR, 'h2 a'))
        self.assertTrue(viewer.find_element(By.CSS_SELECTOR, 'a[href="presets.html"]').get_attribute('hidden'))

        before = self.venue.emulators['A'].registers()[MUSIC_VOLUME]
        up = self.tile(desk, 'A').find_element(By.CSS_SELECTOR, 'button[data-step="1"]')
        self.assertEqual(up.accessible_name, 'A 音乐调整 音量 提高')
        shown = tile_value(desk, 'A', 0)
        up.click()
        higher = f'{int(shown[:-2]) + 1}dB'
        wait(desk, lambda d: tile_value(d, 'A', 0) == higher, message='the desk sees its change')
        self.assertEqual(self.venue.emulators['A'].registers()[MUSIC_VOLUME], before - 1)
        wait(viewer, lambda d: tile_value(d, 'A', 0) == higher, message='a second browser sees it')
        # Lock, from the desk, once confirmed: every browser shows it.
        self.assertEqual(self.tile(viewer, 'A').find_element(By.CSS_SELECTOR, '.lock span').text, '未锁定')
        self.tile(desk, 'A').find_element(By.CSS_SELECTOR, '.lock button').click()
        dialog = desk.find_element(By.ID, 'lock-dialog')
        self.assertIn('锁定机器内数据', dialog.text)
        dialog.find_element(By.CSS_SELECTOR, 'button[value=yes]').click()
        wait(viewer, lambda d: self.tile(d, 'A').find_element(By.CSS_SELECTOR, '.lock span').text == '已锁定')

        # Filter and sort: by name, by state (offline first).
        desk.find_element(By.ID, 'filter').send_keys('离线')
        visible = lambda d: [t.get_attribute('data-room') for t in d.find_elements(By.CSS_SELECTOR, '.room') if t.is_displayed()]
        wait(desk, lambda d: visible(d) == ['D'])
        desk.find_element(By.ID, 'filter').clear()
        desk.find_element(By.ID, 'filter').send_keys(Keys.BACKSPACE)
        desk.find_element(By.CSS_SELECTOR, '#sort option[value=state]').click()
        wait(desk, lambda d: visible(d) == ['D', 'A', 'B', 'C'])

    def test_a_room_goes_offline_on_the_page_and_comes_back(self):
        viewer = self.open('watch')
        emulator = self.venue.emulators['B']
        emulator.kill()
        state = lambda d: self.tile(d, 'B').find_element(By.CLASS_NAME, 'state').text
        wait(viewer, lambda d: state(d).startswith('离线'), 15, 'B offline on the page')
        emulator.start()  # the same port again
        wait(viewer, lambda d: state(d) == '在线', 40, 'B back online on the page')
        self.assertEqual(tile_value(viewer, 'B', 0), '68dB')

    def test_the_technicians_room_page(self):
        driver = self.open('tech')
        emulator = self.venue.emulators['A']
        driver.get(self.venue.base + '/room.html?room=A')
        bar = wait(driver, lambda d: d.find_element(By.ID, 'c-MusicMaxVolumeTrackBar'))
        wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, '#room-state').text == '在线')
        self.assertEqual([t.text for t in driver.find_elements(By.CSS_SELECTOR, '[role=tab]')],
                         ['音乐调整', '话筒调整', '效果调整'])
        self.assertEqual(bar.accessible_name, '音乐调整 最大音量')
        volume = driver.find_element(By.ID, 'c-MusicVolumeTrackBar')
        start = emulator.registers()[MUSIC_VOLUME]

        # The keyboard moves a bar one position (towards the top: one dB up).
        volume.send_keys(Keys.ARROW_RIGHT)
        wait(driver, lambda d: emulator.registers()[MUSIC_VOLUME] == start - 1, message='one step up on the processor')
        # A drag of the maximum bar far down drags the volume along (the panel's rule), and
        # is one step to undo.
        before = emulator.registers()
        ActionChains(driver).click_and_hold(bar).move_by_offset(-bar.size['width'] // 2 + 5, 0).pause(0.3) \
            .move_by_offset(-10, 0).release().perform()
        wait(driver, lambda d: emulator.registers()[MUSIC_MAX] > before[MUSIC_MAX] + 20, message='the max bar dragged down')
        wait(driver, lambda d: emulator.registers()[MUSIC_VOLUME] >= emulator.registers()[MUSIC_MAX], message='the volume follows')
        dragged = emulator.registers()
        wait(driver, requests_answered, message="the drag's last request answered")
        undo = driver.find_element(By.ID, 'undo')
        wait(driver, lambda d: undo.is_enabled())
        undo.click()
        wait(driver, lambda d: emulator.registers()[MUSIC_MAX] == before[MUSIC_MAX], message='undo puts the max back')
        self.assertEqual(emulator.registers()[MUSIC_VOLUME], before[MUSIC_VOLUME])
        driver.find_element(By.ID, 'redo').click()
        wait(driver, lambda d: emulator.registers()[MUSIC_MAX] == dragged[MUSIC_MAX], message='redo')
        # The history lists the changes, newest first.
        wait(driver, lambda d: '最大音量' in d.find_element(By.CSS_SELECTOR, '#history li').text)

        # A change made elsewhere moves the control here.
        self.venue.api('PATCH', 'rooms/A/registers', {'registers': [{'name': 'MusicMaxVolumeTrackBar', 'shown': '80dB'}]})
        wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, '#c-MusicMaxVolumeTrackBar + output').text == '80dB')
        # The effect page: a fixed DSP mode disables the effect bars.
        driver.find_element(By.ID, 'tab-2').click()
        echo = driver.find_element(By.ID, 'c-EchoLevelTrackBar')
        self.assertTrue(echo.is_displayed() and echo.is_enabled())
        driver.find_element(By.CSS_SELECTOR, 'input[value=fixed]').click()
        wait(driver, lambda d: emulator.registers()[49] == 5)
        wait(driver, lambda d: not echo.is_enabled())
        driver.find_element(By.CSS_SELECTOR, 'input[name="r-DSPModeRadioGroup"][value="1"]').click()
        wait(driver, lambda d: echo.is_enabled())

    def test_ab_sends_only_the_registers_that_differ(self):
        driver = self.open('tech', network_log=True)
        emulator = self.venue.emulators['A']
        driver.get(self.venue.base + '/room.html?room=A')
        wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, '#room-state').text == '在线')
        driver.find_element(By.ID, 'keep-a').click()
        self.venue.api('PATCH', 'rooms/A/registers', {'registers': [
            {'name': 'EchoLevelTrackBar', 'value': 10}, {'name': 'MicVolumeTrackBar', 'value': 40}]})
        mic = '#c-MicVolumeTrackBar + output'  # on a page not shown: its text, not what shows
        wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, mic).get_attribute('textContent') == '48dB')
        driver.find_element(By.ID, 'keep-b').click()
        seen = len(emulator.received())
        driver.find_element(By.TAG_NAME, 'body').send_keys('x')  # back to A
        wait(driver, lambda d: 'A' in d.find_element(By.ID, 'ab-state').text)
        wait(driver, lambda d: len(changes(emulator.received()[seen:])) == 2)
        wait(driver, requests_answered)  # and nothing more on its way
        self.assertEqual(sorted(a for a, _ in changes(emulator.received()[seen:])), [32, 50])
        # What the page itself sent, as the browser's network log has it: the two that differ.
        names = lambda bodies: sorted(r['name'] for b in bodies for r in b['registers'])
        self.assertEqual(names(sent(driver, 'PATCH', '/rooms/A/registers')), ['EchoLevelTrackBar', 'MicVolumeTrackBar'])
        seen = len(emulator.received())
        driver.find_element(By.ID, 'switch').click()  # and to B
        wait(driver, lambda d: emulator.registers()[32] == 40)
        wait(driver, requests_answered)
        self.assertEqual(sorted(a for a, _ in changes(emulator.received()[seen:])), [32, 50])
        self.assertEqual(names(sent(driver, 'PATCH', '/rooms/A/registers')), ['EchoLevelTrackBar', 'MicVolumeTrackBar'])

    def test_a_preset_recalled_into_four_rooms_one_failing(self):
        driver = self.open('tech')
        # A volume that the faulty unit C cannot hold.
        self.venue.api('PATCH', 'rooms/A/registers', {'registers': [{'name': 'MusicVolumeTrackBar', 'value': 30}]})
        driver.get(self.venue.base + '/presets.html')
        wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, '#recall-rooms input'))
        driver.find_element(By.CSS_SELECTOR, '#store-room option[value=A]').click()
        driver.find_element(By.ID, 'store-name').send_keys('house')
        driver.find_element(By.CSS_SELECTOR, '#store button').click()
        wait(driver, lambda d: d.find_elements(By.XPATH, '//tbody/tr/th[text()="house"]'))
        driver.find_element(By.ID, 'all-rooms').click()
        driver.find_element(By.CSS_SELECTOR, '#recall-preset option[value=house]').click()
        driver.find_element(By.CSS_SELECTOR, '#recall button[type=submit]').click()
        result = lambda d, room: d.find_element(By.XPATH, f'//table[@id="results"]//th[text()="{room}"]/..').text
        wait(driver, lambda d: all('等待中' not in result(d, r) for r in 'ABCD'), 20, 'every room answered')
        self.assertIn('一致', result(driver, 'A'))
        self.assertIn('一致', result(driver, 'B'))
        self.assertIn('有差异', result(driver, 'C'))
        self.assertIn('音乐调整 音量', result(driver, 'C'))
        self.assertIn('失败', result(driver, 'D'))
        self.assertIn('没有此设备', result(driver, 'D'))
        self.assertEqual(self.venue.emulators['B'].registers()[MUSIC_VOLUME],
                         self.venue.emulators['A'].registers()[MUSIC_VOLUME])
        # The venue page marks the rooms that differ from the house preset, with the controls.
        driver.get(self.venue.base + '/venue.html')
        wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, '#house option[value=house]'))
        driver.find_element(By.CSS_SELECTOR, '#house option[value=house]').click()
        wait(driver, lambda d: 'differs-from-house' in self.tile(d, 'C').get_attribute('class'))
        self.assertNotIn('differs-from-house', self.tile(driver, 'A').get_attribute('class'))
        self.assertIn('音乐调整 音量', self.tile(driver, 'C').find_element(By.TAG_NAME, 'summary').get_attribute('title'))

    def test_a_web_page_cannot_reach_a_frame_port(self):
        # A page of another site (here another port of this machine, as any page a browser
        # on the server PC opens) sends a frame as a request body and over a WebSocket.
        class Page(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header('Content-Type', 'text/html')
                self.end_headers()
                self.wfile.write(b'<!doctype html><title>elsewhere</title>')

            def log_message(self, *args):
                pass

        site = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Page)
        threading.Thread(target=site.serve_forever, daemon=True).start()
        try:
            driver = browser()
            self.browsers.append(driver)
            driver.get(f'http://127.0.0.1:{site.server_address[1]}/')
            emulator = self.venue.emulators['B']
            port = self.venue.frame_port('B')
            before = changes(emulator.received())
            closed = lambda: int(re.search(r'zev720d_frame_port_clients_closed_total\{room="B"\} (\d+)',
                                           self.venue.metrics()).group(1))
            closed_before = closed()
            driver.execute_async_script(
                'const done = arguments[arguments.length - 1], port = arguments[0];'
                'const frame = new Uint8Array([0xFE, 0x10, 0x05, 0x15, 0xFD]);'
                'const post = fetch(`http://127.0.0.1:${port}/`, {method: "POST", mode: "no-cors", body: frame})'
                '  .catch(() => null);'
                'const socket = new Promise(resolve => {'
                '  const ws = new WebSocket(`ws://127.0.0.1:${port}/`); ws.binaryType = "arraybuffer";'
                '  ws.onopen = () => ws.send(frame); ws.onerror = ws.onclose = () => resolve(null);'
                '  setTimeout(resolve, 5000); });'
                'Promise.all([post, socket]).then(() => done(null));', port)
            wait(driver, lambda d: closed() >= closed_before + 2, message='both connections closed by the frame port')
            self.assertEqual(changes(emulator.received()), before)
            self.assertEqual(self.venue.api('GET', 'rooms/B')['registers'][0]['value'],
                             emulator.registers()[MUSIC_VOLUME])
        finally:
            site.shutdown()
            site.server_close()

    def test_english_is_chosen_and_remembered(self):
        driver = self.open('front', language='zh')
        driver.find_element(By.ID, 'language').click()
        wait(driver, lambda d: d.find_element(By.TAG_NAME, 'h1').text == 'Venue')
        driver.refresh()
        wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, '.room .state'))
        self.assertEqual(driver.find_element(By.TAG_NAME, 'h1').text, 'Venue')
        self.assertEqual(driver.find_element(By.TAG_NAME, 'html').get_attribute('lang'), 'en')
        wait(driver, lambda d: self.tile(d, 'A').find_element(By.CLASS_NAME, 'state').text == 'online')
        up = self.tile(driver, 'A').find_element(By.CSS_SELECTOR, 'button[data-step="1"]')
        self.assertEqual(up.accessible_name, 'A Music volume up')  # the server's one English name
        # A technician's room page in English: no Chinese left but what the venue named itself,
        # and the names of the one table that zev720ctl --lang en prints too.
        tech = self.open('tech', language='en')
        tech.get(self.venue.base + '/room.html?room=A')
        wait(tech, lambda d: d.find_elements(By.CSS_SELECTOR, 'input[aria-label="Music volume"]'))
        for tab in tech.find_elements(By.CSS_SELECTOR, '[role=tab]'):
            tab.click()
            shown = tech.find_element(By.TAG_NAME, 'main').text
            self.assertIsNone(re.search('[\u2e80-\u9fff]', shown), shown)
        self.assertTrue(tech.find_elements(By.CSS_SELECTOR, 'input[aria-label="Reverb room width"]'))
        tech.find_element(By.ID, 'language').click()
        wait(tech, lambda d: d.find_elements(By.CSS_SELECTOR, 'input[aria-label="音乐调整 音量"]'))

    def test_every_page_passes_axe(self):
        with open(AXE) as f:
            source = f.read()
        problems = {}
        for user, language in (('tech', 'zh'), ('front', 'en')):
            driver = self.open(user, 390, 844, language)
            for page in ('venue.html', 'room.html?room=A', 'presets.html'):
                driver.get(self.venue.base + '/' + page)
                wait(driver, lambda d: d.find_element(By.ID, 'who').text)
                wait(driver, lambda d: d.execute_script(f'return Boolean({DRAWN[page]})') and requests_answered(d),
                     message=f'{page} drawn')
                tabs = driver.find_elements(By.CSS_SELECTOR, '[role=tab]') or [None]
                for tab in tabs:
                    if tab is not None:
                        tab.click()
                    found = axe(driver, source)
                    if found:
                        problems[f'{user} {page} {tab.text if tab else ""}'] = [(v['id'], v['help'], [n['html'][:80] for n in v['nodes'][:3]]) for v in found]
        login = browser(360, 740)
        self.browsers.append(login)
        login.get(self.venue.base + '/index.html')
        found = axe(login, source)
        if found:
            problems['login'] = [(v['id'], v['help']) for v in found]
        self.assertEqual(problems, {})


class Truth(unittest.TestCase):
    """A page never shows stale values as live: after the server restarted, and through a
    network that silently stops passing bytes (a loopback proxy that holds them)."""

    @classmethod
    def setUpClass(cls):
        cls.venue = Venue(BUILD, {'A': (), 'B': ()}, USERS, proxy=True)
        cls.browsers = []

    @classmethod
    def tearDownClass(cls):
        for driver in cls.browsers:
            driver.quit()
        cls.venue.close()

    def open(self, user, base):
        driver = browser()
        self.browsers.append(driver)
        log_in(driver, base, user, USERS[user][1])
        return driver

    def test_a_silent_network_makes_the_page_stale_and_a_held_tap_never_lands(self):
        venue = self.venue
        desk = self.open('front', venue.proxied)
        emulator = venue.emulators['A']
        up = lambda d: d.find_element(By.CSS_SELECTOR, '[data-room="A"] button[data-step="1"]')
        wait(desk, lambda d: up(d).is_enabled() and tile_value(d, 'A') != '?', message='the tile live')
        shown = tile_value(desk, 'A')
        seen = len(emulator.received())
        venue.proxy.hold()
        up(desk).click()  # before the page can know: the request is held with the rest
        status = lambda d: d.find_element(By.ID, 'status').text
        wait(desk, lambda d: '5 秒内没有回应' in status(d), 10, 'the tap given up after 5 s')
        wait(desk, lambda d: tile_value(d, 'A') == '?' and not up(d).is_enabled() and '失去联系' in status(d),
             14, 'every tile stale within 10 s of silence')
        self.assertIn('stale', desk.find_element(By.CSS_SELECTOR, '[data-room="A"]').get_attribute('class'))
        venue.proxy.release()  # the held request reaches the server, late
        wait(desk, lambda d: up(d).is_enabled() and tile_value(d, 'A') != '?', 30, 'live again')
        self.assertEqual(tile_value(desk, 'A'), shown)
        self.assertEqual(changes(emulator.received()[seen:]), [])
        self.assertRegex(venue.metrics(), r'zev720d_http_responses_total\{status="409"\} [1-9]')

    def test_a_restarted_server_sends_the_page_to_the_login_and_back(self):
        venue = self.venue
        driver = self.open('tech', venue.base)
        driver.get(venue.base + '/room.html?room=B')
        wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, '#room-state').text == '在线')
        venue.restart()
        wait(driver, lambda d: '/index.html' in d.current_url, 15, 'the login page after the restart')
        wait(driver, lambda d: d.find_element(By.ID, 'reason').text == '服务器已重新启动，请重新登录')
        driver.find_element(By.ID, 'user').send_keys('tech')
        driver.find_element(By.ID, 'password').send_keys(USERS['tech'][1])
        driver.find_element(By.CSS_SELECTOR, 'form button[type=submit]').click()
        wait(driver, lambda d: d.current_url.endswith('/room.html?room=B'), message='back to the room')
        wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, '#room-state').text == '在线')


# Room names as long as the venue file allows (100 bytes), in CJK and in emoji.
LONG = 'K' + 'x' * 99
CJK = '贵宾包厢' * 8 + '一'  # 33 characters, 99 bytes
EMOJI = '🎤🎶' * 12 + '🎵'  # 25 characters, 100 bytes


class Layout(unittest.TestCase):
    """Every name fits and every finger hits: the pages at 320, 360, 768 and 1920 px with the
    longest names, touch targets on a phone, and every code of the server translated."""

    @classmethod
    def setUpClass(cls):
        cls.venue = Venue(BUILD, {LONG: (), CJK: (), EMOJI: (), 'K01': (), 'K99': None}, USERS)
        cls.venue.api('PUT', 'presets/' + urllib.parse.quote(CJK), {'fromRoom': 'K01'})

    @classmethod
    def tearDownClass(cls):
        cls.venue.close()

    def pages(self, driver):
        """Each page and view a technician opens, shown in turn."""
        base = self.venue.base
        for view in ('tiles', 'rows'):
            driver.execute_script('localStorage.setItem("zev720.view", arguments[0])', view)
            driver.get(base + '/venue.html')
            wait(driver, lambda d: len(d.find_elements(By.CSS_SELECTOR, '.room .state-online')) == 4)
            yield f'venue ({view})'
        driver.get(base + '/room.html?room=' + urllib.parse.quote(LONG))
        wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, '#room-state').text == '在线')
        for i in range(3):
            driver.find_element(By.ID, f'tab-{i}').click()
            yield f'room, tab {i}'
        driver.get(base + '/presets.html')
        wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, '#recall-rooms input'))
        yield 'presets'

    maxDiff = None

    def test_every_page_fits_every_width_and_every_button_hits(self):
        problems = {}
        for width in (320, 360, 768, 1920):
            driver = browser(width, 1080 if width > 1000 else 800)
            try:
                log_in(driver, self.venue.base, 'tech', USERS['tech'][1])
                for page in self.pages(driver):
                    found = no_sideways_scroll_and_buttons_hit(driver)
                    if found:
                        problems[f'{width} px, {page}'] = found[:5]
            finally:
                driver.quit()
        self.assertEqual(problems, {})

    def test_touch_targets_on_a_phone(self):
        problems = {}
        driver = browser(360, 740)
        try:
            driver.get(self.venue.base + '/index.html')
            problems['login'] = small_targets(driver)
            log_in(driver, self.venue.base, 'tech', USERS['tech'][1])
            for page in self.pages(driver):
                problems[page] = small_targets(driver)
        finally:
            driver.quit()
        self.assertEqual({page: found for page, found in problems.items() if found}, {})

    def test_every_code_is_translated_in_both_languages(self):
        codes = subprocess.run([self.venue.zev720d, '--codes'], capture_output=True, text=True, check=True).stdout
        keys = []
        for line in codes.splitlines():
            kind, rest = line.split(' ', 1)
            keys.append(f'{kind}.{rest if kind == "through" else rest.split(" ")[0]}')
        driver = browser()
        try:
            driver.get(self.venue.base + '/index.html')
            missing = driver.execute_async_script(
                'const done = arguments[arguments.length - 1];'
                'import("/js/texts.js").then(m => done(arguments[0].filter(k => !m.translated(k))));', keys)
        finally:
            driver.quit()
        self.assertGreater(len(keys), 50)
        self.assertEqual(missing, [])

    def test_a_desk_bar_at_its_end_says_so(self):
        self.venue.api('PATCH', 'rooms/K01/registers', {'registers': [
            {'name': 'MusicMaxVolumeTrackBar', 'value': 30}, {'name': 'MusicVolumeTrackBar', 'value': 30}]})
        driver = browser()
        try:
            log_in(driver, self.venue.base, 'front', USERS['front'][1])
            tile = lambda d: d.find_element(By.CSS_SELECTOR, '[data-room="K01"]')
            wait(driver, lambda d: tile(d).find_element(By.CSS_SELECTOR, '.end').text == '已到上限')
            self.assertFalse(tile(driver).find_element(By.CSS_SELECTOR, 'button[data-step="1"]').is_enabled())
            self.assertTrue(tile(driver).find_element(By.CSS_SELECTOR, 'button[data-step="-1"]').is_enabled())
        finally:
            driver.quit()
            self.venue.api('PATCH', 'rooms/K01/registers', {'registers': [{'name': 'MusicMaxVolumeTrackBar', 'value': 0}]})


class Guards(unittest.TestCase):
    """What guards the rooms, in the pages: a room's tablet paired by its link (a tablet held
    landscape, a phone in English), ended by the desk and asked for a new code after a restart;
    the desk at a limit; a schedule firing on the server's clock (a clock file the test writes,
    in the zone it sets)."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='zev720-clock-')
        cls.clock = os.path.join(cls.folder, 'clock')
        cls.set_clock('2026-12-10T21:59:00+08:00')
        cls.venue = Venue(BUILD, {'K01': (), 'K02': ()}, USERS,
                          environment={'ZEV720D_CLOCK_FILE': cls.clock, 'TZ': 'Asia/Shanghai'})
        cls.browsers = []

    @classmethod
    def tearDownClass(cls):
        for driver in cls.browsers:
            driver.quit()
        cls.venue.close()
        shutil.rmtree(cls.folder, ignore_errors=True)

    @classmethod
    def set_clock(cls, local):
        with open(cls.clock + '.new', 'w') as f:
            f.write(local)
        os.replace(cls.clock + '.new', cls.clock)

    def driver(self, width, height, language='zh'):
        driver = browser(width, height)
        self.browsers.append(driver)
        driver.get(self.venue.base + '/index.html')
        driver.execute_script('localStorage.setItem("zev720.language", arguments[0])', language)
        return driver

    def guest_value(self, driver, index):
        return driver.find_elements(By.CSS_SELECTOR, '.guest-value')[index].text

    def test_a_rooms_tablet_and_a_guests_phone(self):
        venue = self.venue
        venue.api('PUT', 'limits', {'limits': [{'register': 'MusicVolumeTrackBar', 'role': 'guest', 'max': '70dB'}]})
        venue.api('PATCH', 'rooms/K01/registers', {'registers': [
            {'name': 'MusicMaxVolumeTrackBar', 'shown': '88dB'}, {'name': 'MusicVolumeTrackBar', 'shown': '69dB'}]})
        link = venue.api('POST', 'rooms/K01/links', {'until': '06:00', 'registers': ['EchoLevelTrackBar']})
        self.assertIn('#pair=', link['url'])
        tablet = self.driver(1024, 600)  # a 7-10 inch tablet held landscape
        tablet.get(link['url'])
        wait(tablet, lambda d: len(d.find_elements(By.CSS_SELECTOR, '.guest-value')) == 3 and self.guest_value(d, 0) == '69dB')
        self.assertEqual(tablet.find_element(By.ID, 'room-name').text, 'K01')
        self.assertNotIn('pair=', tablet.current_url)  # the code leaves the address at once
        self.assertIn('06:00', tablet.find_element(By.ID, 'until').text)
        # Up to the guests' limit, and no further.
        up = tablet.find_elements(By.CSS_SELECTOR, '.guest-step')[1]
        self.assertEqual(up.accessible_name, '音乐调整 音量 +')
        up.click()
        wait(tablet, lambda d: self.guest_value(d, 0) == '70dB')
        wait(tablet, lambda d: not up.is_enabled() and d.find_element(By.CSS_SELECTOR, '.guest-note').text == '已到上限')
        self.assertEqual(venue.emulators['K01'].registers()[MUSIC_VOLUME], 88 - 70)
        self.assertEqual(no_sideways_scroll_and_buttons_hit(tablet), [])
        self.assertEqual(small_targets(tablet), [])
        self.assertEqual(axe(tablet, open(AXE).read()), [])
        # The code was good once.
        phone = self.driver(360, 740, language='en')
        phone.get(link['url'])
        wait(phone, lambda d: 'not good' in d.find_element(By.ID, 'pairing').text)
        # A phone of its own, in English.
        second = venue.api('POST', 'rooms/K02/links', {'until': '06:00'})
        phone.get(second['url'])
        wait(phone, lambda d: len(d.find_elements(By.CSS_SELECTOR, '.guest-value')) == 2
             and d.find_element(By.ID, 'room-name').text == 'K02')
        self.assertEqual([h.text for h in phone.find_elements(By.CSS_SELECTOR, '.guest-control h2')],
                         ['Music volume', 'Microphone volume'])
        self.assertEqual(no_sideways_scroll_and_buttons_hit(phone), [])
        self.assertEqual(small_targets(phone), [])
        # The desk sees the live tablets and ends one: that page asks for a new code.
        desk = self.driver(1280, 900)
        log_in(desk, venue.base, 'front', USERS['front'][1])
        tile = lambda d: d.find_element(By.CSS_SELECTOR, '[data-room="K01"]')
        wait(desk, lambda d: tile(d).find_element(By.CSS_SELECTOR, '.tablet').is_displayed())
        button = tile(desk).find_element(By.CSS_SELECTOR, '.tablet button')
        self.assertEqual(button.text, '结束本房控制')
        button.click()
        wait(tablet, lambda d: '控制已结束' in d.find_element(By.ID, 'pairing').text, 15, 'the tablet told it ended')
        self.assertFalse(tablet.find_elements(By.CSS_SELECTOR, '.guest-step'))
        wait(desk, lambda d: not tile(d).find_element(By.CSS_SELECTOR, '.tablet').is_displayed())
        # A restart of the server: the phone asks for a new code, with the reason.
        venue.restart()
        wait(phone, lambda d: 'restarted' in d.find_element(By.ID, 'pairing').text, 30, 'the phone told of the restart')
        self.assertEqual(axe(phone, open(AXE).read()), [])

    def test_a_desk_at_its_limit_and_a_schedule_on_the_servers_clock(self):
        venue = self.venue
        venue.api('PUT', 'limits', {'limits': [
            {'register': 'MusicVolumeTrackBar', 'role': 'desk', 'max': '70dB', 'hours': '22:00-08:00'}]})
        venue.api('PATCH', 'rooms/K02/registers', {'registers': [
            {'name': 'MusicMaxVolumeTrackBar', 'shown': '88dB'}, {'name': 'MusicVolumeTrackBar', 'shown': '80dB'}]})
        venue.api('PUT', 'presets/' + urllib.parse.quote('深夜'), {'fromRoom': 'K02'})
        venue.api('PATCH', 'rooms/K01/registers', {'registers': [{'name': 'MusicVolumeTrackBar', 'shown': '50dB'}]})
        self.set_clock('2026-12-10T21:59:00+08:00')
        schedule = venue.api('PUT', 'schedule', {'entries': [{'name': 'late', 'at': '22:00', 'recall': '深夜', 'rooms': 'K01'}]})
        self.assertEqual(schedule['tonight'][0]['at'], '2026-12-10T22:00:00+08:00')
        desk = self.driver(1280, 900)
        log_in(desk, venue.base, 'front', USERS['front'][1])
        tile = lambda d, room: d.find_element(By.CSS_SELECTOR, f'[data-room="{room}"]')
        wait(desk, lambda d: tile_value(d, 'K01', 0) == '50dB')
        wait(desk, lambda d: '22:00–08:00' in d.find_element(By.ID, 'limits').text)
        self.assertIn('70dB', desk.find_element(By.ID, 'limits').text)
        # 22:00: the schedule recalls into K01 (held by nothing: a technician's schedule), and
        # the limit begins: K02 is brought down to it, and + is off there.
        self.set_clock('2026-12-10T22:00:05+08:00')
        wait(desk, lambda d: tile_value(d, 'K01', 0) == '80dB', 15, 'the schedule ran')
        wait(desk, lambda d: tile_value(d, 'K02', 0) == '70dB', 15, 'the limit brought K02 down')
        up = tile(desk, 'K02').find_element(By.CSS_SELECTOR, 'button[data-step="1"]')
        wait(desk, lambda d: not up.is_enabled() and tile(d, 'K02').find_element(By.CSS_SELECTOR, '.end').text == '已到上限')
        history = venue.api('GET', 'rooms/K01/history?limit=1')['changes'][0]
        self.assertEqual((history['user'], history['through']), ('schedule', 'schedule'))
        # A desk user's own slip, undone within the minute.
        down = tile(desk, 'K02').find_element(By.CSS_SELECTOR, 'button[data-step="-1"]')
        down.click()
        wait(desk, lambda d: tile_value(d, 'K02', 0) == '69dB')
        undo = tile(desk, 'K02').find_element(By.CSS_SELECTOR, '.undo-own')
        wait(desk, lambda d: undo.is_displayed())
        undo.click()
        wait(desk, lambda d: tile_value(d, 'K02', 0) == '70dB')
        wait(desk, lambda d: not undo.is_displayed())
        # The technician's presets page: the limits and tonight's runs.
        technician = self.driver(1280, 900)
        log_in(technician, venue.base, 'tech', USERS['tech'][1])
        technician.get(venue.base + '/presets.html')
        wait(technician, lambda d: d.find_elements(By.CSS_SELECTOR, '#tonight li') and d.find_elements(By.CSS_SELECTOR, '#limit-list li'))
        self.assertIn('late', technician.find_element(By.ID, 'tonight').text)
        self.assertIn('生效中', technician.find_element(By.ID, 'limit-list').text)
        textarea = technician.find_element(By.ID, 'limits-text')
        textarea.clear()
        textarea.send_keys('{"limits": [\n{"register": "Nothing", "role": "desk", "max": "1dB"}]}')
        technician.find_element(By.CSS_SELECTOR, '#limits-form button').click()
        wait(technician, lambda d: 'line 2' in d.find_element(By.ID, 'limits-said').text)
        self.assertEqual(len(venue.api('GET', 'limits')['limits']), 1)
        # The venue's backup, downloaded from the page: the server's archive under its name.
        downloads = tempfile.mkdtemp(prefix='zev720-downloads-', dir=self.folder)
        technician.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': downloads})
        technician.find_element(By.ID, 'backup-download').click()
        wait(technician, lambda d: [f for f in os.listdir(downloads) if f.endswith('.tar.gz')], 20, 'no backup')
        wait(technician, lambda d: d.find_element(By.ID, 'backup-said').text == '备份已下载。')
        name = [f for f in os.listdir(downloads) if f.endswith('.tar.gz')][0]
        self.assertTrue(name.startswith('zev720d-backup-2026-12-10-22'), name)
        with tarfile.open(os.path.join(downloads, name)) as archive:
            names = archive.getnames()
        self.assertIn('limits.json', names)
        self.assertIn('presets/深夜.dat', names)
        self.assertNotIn('users', names)


if __name__ == '__main__':
    unittest.main(verbosity=2)

"""Debian's Chromium, headless, driven through Debian's chromedriver with Selenium: what the
page tests and the screenshots use. Nothing is downloaded; the browser reaches nothing but
the server under test on loopback."""
import json
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.support.ui import WebDriverWait


def browser(width=1280, height=900, language=None, network_log=False):
    options = webdriver.ChromeOptions()
    if network_log:  # the requests the page sends, as the browser's DevTools see them
        options.set_capability('goog:loggingPrefs', {'performance': 'ALL'})
    options.binary_location = '/usr/bin/chromium'
    profile = tempfile.mkdtemp(prefix='zev720-chromium-')
    for flag in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--disable-dev-shm-usage', '--no-proxy-server', '--hide-scrollbars', f'--user-data-dir={profile}',
                 f'--window-size={width},{height}', '--force-device-scale-factor=1'):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    driver.set_window_size(width, height)
    # The viewport itself at the size asked, whatever the window's frame takes.
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                           {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 600})
    driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': COUNT_FETCHES})
    driver.set_script_timeout(30)
    return driver


def wait(driver, condition, seconds=10, message=''):
    # A list the page makes anew between finding an element and reading it is looked at again.
    return WebDriverWait(driver, seconds, poll_frequency=0.02,
                         ignored_exceptions=(NoSuchElementException, StaleElementReferenceException)).until(
        lambda d: condition(d), message)


def log_in(driver, base, user, password, language='zh'):
    driver.get(base + '/index.html')
    driver.execute_script('localStorage.setItem("zev720.language", arguments[0])', language)
    driver.get(base + '/index.html')
    driver.find_element(By.ID, 'user').send_keys(user)
    driver.find_element(By.ID, 'password').send_keys(password)
    driver.find_element(By.CSS_SELECTOR, 'form button[type=submit]').click()
    wait(driver, lambda d: d.current_url.endswith('/venue.html'), message='login to reach the venue')
    wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, '.room'), message='tiles on the venue page')


def tile_value(driver, room, register_index=0):
    return driver.execute_script(
        'const t = document.querySelector(`[data-room="${arguments[0]}"]`);'
        'return t ? t.querySelectorAll(".values output")[arguments[1]].textContent : null;', room, register_index)


# Counts the page's fetches that have not yet been answered and read: installed before the
# page's own scripts run (a browser opened with network_log), so that a test waits for what
# the page asked to be done rather than for a time.
COUNT_FETCHES = """
(() => {
  let busy = 0;
  const fetch = window.fetch.bind(window);
  window.zevBusy = () => busy;
  window.fetch = async (...args) => {
    busy++;
    try {
      const response = await fetch(...args);
      const body = await response.clone().arrayBuffer().catch(() => null);
      return new Response(body, response);
    } finally {
      setTimeout(() => { busy--; }, 0); // after what the page does with the answer
    }
  };
})();
"""


def requests_answered(driver):
    """True once every fetch the page made has been answered and its answer handled."""
    return driver.execute_script('return window.zevBusy ? window.zevBusy() === 0 : true')


def sent(driver, method, path_part):
    """The bodies of the requests of `method` to a URL holding `path_part` that the browser
    sent since the last call, from its network log, parsed as JSON."""
    bodies = []
    for entry in driver.get_log('performance'):
        message = json.loads(entry['message'])['message']
        if message.get('method') != 'Network.requestWillBeSent':
            continue
        request = message['params']['request']
        if request['method'] == method and path_part in request['url']:
            bodies.append(json.loads(request.get('postData') or 'null'))
    return bodies


def no_sideways_scroll_and_buttons_hit(driver):
    """What a page shows at this width that is wrong: a page wider than the window, or a
    visible button, link or field whose centre (once scrolled to) is covered by something else."""
    return driver.execute_script("""
        const wrong = [];
        const root = document.scrollingElement;
        if (root.scrollWidth > innerWidth + 1) wrong.push(`the page is ${root.scrollWidth} px wide in ${innerWidth}`);
        for (const e of document.querySelectorAll('button, a[href], select, input, summary')) {
          if (!e.getClientRects().length || e.closest('dialog:not([open])') || getComputedStyle(e).visibility === 'hidden') continue;
          e.scrollIntoView({block: 'center', inline: 'center'});
          const r = e.getBoundingClientRect();
          const x = r.left + r.width / 2, y = r.top + r.height / 2;
          if (x < 0 || y < 0 || x > innerWidth || y > innerHeight) continue;  // inside a strip that scrolls
          const hit = document.elementFromPoint(x, y);
          const label = e.labels && e.labels[0];
          if (!hit || !(e === hit || e.contains(hit) || (label && label.contains(hit))))
            wrong.push(`${e.tagName} ${e.id || e.textContent.trim().slice(0, 20) || e.getAttribute('aria-label')} is covered by ${hit && (hit.tagName + ' ' + hit.className)}`);
        }
        root.scrollTo(0, 0);
        return wrong;""")


def small_targets(driver, least=44):
    """The controls smaller than `least` CSS pixels either way: buttons, links, selects and
    fields as they are, radio buttons and check boxes by the label that holds them."""
    return driver.execute_script("""
        const least = arguments[0], small = [];
        for (const e of document.querySelectorAll('button, a[href], select, input, summary')) {
          if (!e.getClientRects().length || e.closest('dialog:not([open])')) continue;
          const target = ['radio', 'checkbox'].includes(e.type) ? (e.closest('label') || e) : e;
          const r = target.getBoundingClientRect();
          if (r.width < least - 0.5 || r.height < least - 0.5)
            small.push(`${e.tagName} ${e.type || ''} ${e.id || e.textContent.trim().slice(0, 16) || e.getAttribute('aria-label') || ''}: ${Math.round(r.width)} x ${Math.round(r.height)}`);
        }
        return small;""", least)


def axe(driver, axe_source):
    """axe-core's findings on the page as it stands: the serious and critical ones."""
    driver.execute_script(axe_source)
    found = driver.execute_async_script(
        'const done = arguments[arguments.length - 1];'
        'axe.run(document, {resultTypes: ["violations"]}).then(r => done(JSON.stringify(r.violations)),'
        ' e => done(JSON.stringify([{id: "axe failed", impact: "critical", help: String(e), nodes: []}])));')
    return [v for v in json.loads(found) if v.get('impact') in ('serious', 'critical')]


def settle(seconds=0.3):
    time.sleep(seconds)

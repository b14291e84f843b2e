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


def browser(width=1280, height=900, language=None):
    options = webdriver.ChromeOptions()
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

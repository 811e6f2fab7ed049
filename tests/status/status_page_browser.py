#!/usr/bin/env python3
"""The operator's status page in headless Chromium, against the real program.

Lumari runs in a temporary folder with its status endpoint on loopback and a
password set; the monitoring station is played on a pseudo-terminal and the
devices by lumari-device. Through the page, in this order:

  held        a station that does not answer: the event is shown as waiting
  delivered   the station answers: the event leaves the page
  set aside   an event the station refuses (0x15) is set aside once another
              event is acknowledged; the page offers Send again and Release
  refused     Send again without the password is refused, nothing is sent
  sent again  Send again with the password: the station gets the line once
              and the event leaves the page

Saves a screenshot of the page showing the set-aside event (--screenshot).
Exits 0 when every step passed, 1 on a failure (naming the step), and 77
(skipped) when Chromium, its driver or Selenium is not installed.
"""

import argparse
import base64
import functools
import hashlib
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, 'support'))
import lumariprogram  # noqa: E402
from lumariprogram import CONF_PARTS, Failure, Program, free_port, set_conf_values  # noqa: E402

SKIPPED = 77
ACK = b'\x06'
NAK = b'\x15'
KEEPALIVE_START = b'1011'
PASSWORD = 'operator-secret'
START_S = 30
STEP_S = 60

wait_for = functools.partial(lumariprogram.wait_for, interval=0.1)


def password_hash(password, iterations=1000):
    """The stored form the program checks: pbkdf2-sha256$ITERATIONS$SALT$HASH."""
    salt = os.urandom(16)
    derived = hashlib.pbkdf2_hmac('sha256', password.encode(), salt, iterations, 32)
    return 'pbkdf2-sha256$%d$%s$%s' % (iterations, base64.b64encode(salt).decode(),
                                       base64.b64encode(derived).decode())


class Station:
    """The monitoring software on a pseudo-terminal, pumped from a thread of
    its own. answer(line) gives the byte to answer with, or None for no
    answer; every line and the answered ones are kept."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.path = os.ttyname(self.slave)
        self.pending = bytearray()
        self.lines = []
        self.acknowledged = []
        self.answer = lambda line: None
        self.lock = threading.Lock()
        self.running = True
        self.thread = threading.Thread(target=self.pump, daemon=True)
        self.thread.start()

    def close(self):
        self.running = False
        self.thread.join(5)
        os.close(self.master)
        os.close(self.slave)

    def pump(self):
        while self.running:
            if not select.select([self.master], [], [], 0.05)[0]:
                continue
            try:
                chunk = os.read(self.master, 4096)
            except (BlockingIOError, OSError):
                continue
            self.pending += chunk
            while b'\x14' in self.pending:
                end = self.pending.index(b'\x14') + 1
                line = bytes(self.pending[:end])
                del self.pending[:end]
                with self.lock:
                    self.lines.append(line)
                    reply = self.answer(line)
                    if reply is not None:
                        os.write(self.master, reply)
                        if reply == ACK:
                            self.acknowledged.append(line)

    def events(self, which):
        with self.lock:
            lines = list(self.lines if which == 'written' else self.acknowledged)
        return [line for line in lines if not line.startswith(KEEPALIVE_START)]


class Lumari(Program):
    def __init__(self, binary, folder):
        program = os.path.join(folder, os.path.basename(binary))
        shutil.copy(binary, program)
        super().__init__(folder, [program], dict(os.environ, QT_QPA_PLATFORM='offscreen'))

    def configure(self, port, station_path, http_port, stored_hash):
        """The first-start file, written by the program itself, with this
        test's values and the two optional elements of the status page."""
        conf = set_conf_values(self.first_start(START_S), (('LUMARIPORT', str(port)), ('LUMARICOMNAME', station_path),
                                                           ('LUMARICOMKEEPALIVE', '1')))
        extra = ('\t\t<LUMARIHTTP description="" value="127.0.0.1:%d"/>\n'
                 '\t\t<LUMARIHTTPPASSWORD description="" value="%s"/>\n' % (http_port, stored_hash)).encode()
        end = conf.index(b'   </LUMARICOMMON>')
        with open(self.path(*CONF_PARTS), 'wb') as file:
            file.write(conf[:end] + extra + conf[end:])


def device(binary, port, zone, device_id, linger_ms=0):
    return subprocess.Popen([binary, '--port', str(port), '--id', device_id, '--zone', zone,
                             '--timeout', '30000', '--linger', str(linger_ms)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def run_device(binary, port, zone, device_id):
    process = device(binary, port, zone, device_id)
    if process.wait(60) != 0:
        raise Failure('lumari-device for zone %s exited with %d' % (zone, process.returncode))


def browser(folder):
    """Headless Chromium through chromedriver, or None when not installed."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    chromium = shutil.which('chromium')
    driver = shutil.which('chromedriver')
    if not chromium or not driver:
        return None
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--window-size=1100,700', '--user-data-dir=' + os.path.join(folder, 'chromium-profile')):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(driver), options=options)


def events_table(page):
    """(text, state class, button ids) per row of the events table."""
    rows = page.execute_script("""
        return Array.from(document.querySelectorAll('#events tr')).slice(1).map(r =>
            [r.textContent, r.className, Array.from(r.querySelectorAll('button')).map(b => b.id)]);""")
    return [row for row in rows if row[1]]


def selenium_missing():
    """True when Selenium cannot be imported here. Debian's python3-selenium
    is in the system's Python: when another python3 runs this script (a
    virtual environment, pyenv), the script runs again under the system's."""
    try:
        import selenium  # noqa: F401
        return False
    except ImportError:
        pass
    system_python = '/usr/bin/python3'
    if os.path.exists(system_python) and os.path.realpath(sys.executable) != os.path.realpath(system_python):
        os.execv(system_python, [system_python] + sys.argv)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--lumari', required=True)
    parser.add_argument('--device', required=True)
    parser.add_argument('--screenshot', help='PNG file for the page with a set-aside event')
    options = parser.parse_args()

    if selenium_missing():
        print('SKIPPED: Selenium is not installed (Debian python3-selenium; scripts/install-deps installs it)')
        return SKIPPED
    work = tempfile.mkdtemp(prefix='lumari-status-page-')
    page = browser(work)
    if page is None:
        print('SKIPPED: headless Chromium is not installed (Debian chromium, chromium-driver, python3-selenium; '
              'scripts/install-deps installs them)')
        shutil.rmtree(work, ignore_errors=True)
        return SKIPPED

    station = Station()
    lumari = Lumari(options.lumari, work)
    lingering = []
    step = 'start'
    try:
        port, http_port = free_port(), free_port()
        lumari.configure(port, station.path, http_port, password_hash(PASSWORD))
        lumari.start()
        wait_for(lambda: b'[http] Status page listening on 127.0.0.1:%d.' % http_port in lumari.day_log(),
                 START_S, 'the status page listening')
        page.get('http://127.0.0.1:%d/' % http_port)

        step = 'held'
        lingering.append(device(options.device, port, '001', '123456', linger_ms=600000))
        held = wait_for(lambda: events_table(page), STEP_S, 'the event on the page')
        if len(held) != 1 or held[0][1] != 'waiting' or 'E130010' not in held[0][0]:
            raise Failure('expected one waiting event, the page shows %r' % held)
        def device_shown():
            rows = page.execute_script(
                "return Array.from(document.querySelectorAll('#devices tr')).slice(1).map(r => r.textContent);")
            return any(row.startswith('123456127.0.0.1:')
                       and re.search(r'\d\d\.\d\d\.20\d\d \d\d:\d\d:\d\d', row) for row in rows)
        wait_for(device_shown, STEP_S, 'the device with its times on the page')
        print('PASS   held: %s' % held[0][0], flush=True)

        step = 'delivered'
        refused_zone = b'E13001777'
        station.answer = lambda line: NAK if refused_zone in line else ACK
        wait_for(lambda: not events_table(page), STEP_S, 'the delivered event gone from the page')
        if len(station.events('acknowledged')) != 1:
            raise Failure('the station acknowledged %r' % station.events('acknowledged'))
        print('PASS   delivered', flush=True)

        step = 'set aside'
        run_device(options.device, port, '777', '123457')
        wait_for(lambda: b'Refused by the monitoring software' in lumari.day_log(), STEP_S,
                 'the refusal in the day log')
        run_device(options.device, port, '002', '123458')
        rows = wait_for(lambda: [row for row in events_table(page) if row[1] == 'setAside'], STEP_S,
                        'the set-aside event on the page')
        buttons = rows[0][2]
        key = buttons[0].split('-', 1)[1] if buttons else ''
        if buttons != ['sendAgain-' + key, 'release-' + key] or 'E13001777<14>' not in rows[0][0]:
            raise Failure('set-aside row without its line or its two buttons: %r' % rows)
        if options.screenshot:
            # The status bar comes from the window's texts, a second behind.
            wait_for(lambda: 'set aside: 1' in page.find_element('id', 'bar').text, STEP_S,
                     'the status bar with the set-aside event')
            os.makedirs(os.path.dirname(os.path.abspath(options.screenshot)), exist_ok=True)
            page.save_screenshot(options.screenshot)
        print('PASS   set aside', flush=True)

        step = 'refused'
        written_before = len(station.events('written'))
        page.find_element('id', 'sendAgain-' + key).click()
        wait_for(lambda: page.find_element('id', 'message').text == 'Wrong password; nothing was done.', STEP_S,
                 'the refusal on the page')
        time.sleep(3)
        if len(station.events('written')) != written_before:
            raise Failure('an event line went out after a refused Send again: %r' % station.events('written'))
        if [row[1] for row in events_table(page)] != ['setAside']:
            raise Failure('the page shows %r after a refused Send again' % events_table(page))
        print('PASS   refused', flush=True)

        step = 'sent again'
        station.answer = lambda line: ACK
        page.find_element('id', 'password').send_keys(PASSWORD)
        page.find_element('id', 'sendAgain-' + key).click()
        wait_for(lambda: page.find_element('id', 'message').text == 'Done.', STEP_S, '"Done." on the page')
        wait_for(lambda: not events_table(page), STEP_S, 'the event sent again gone from the page')
        time.sleep(3)
        delivered = [line for line in station.events('acknowledged') if refused_zone in line]
        if len(delivered) != 1:
            raise Failure('the event sent again was acknowledged %d times' % len(delivered))
        if b'Sent again by the operator: 5011 18' not in lumari.day_log():
            raise Failure('no log line for the action:\n' + lumari.day_log().decode('utf-8', 'replace')[-2000:])
        print('PASS   sent again', flush=True)
        return 0
    except Failure as failure:
        print('FAIL!  %s: %s' % (step, failure), flush=True)
        print('day log:\n' + lumari.day_log().decode('utf-8', 'replace')[-3000:], flush=True)
        return 1
    finally:
        page.quit()
        for process in lingering:
            process.kill()
            process.wait(15)
        lumari.stop()
        station.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Runs the Windows build of Lumari end to end under Wine.

The program is unpacked from Lumari-win64.zip into an empty temporary
folder and started there under the given (fresh) Wine prefix, on Qt's
offscreen platform. COM5 is a pseudo-terminal whose master side this script
plays as the monitoring station; the Linux lumari-device plays the alarm
communicator on loopback. Checks, in this order:

  first start   conf\\Lumari.conf as the Linux build writes it, with CR LF
                line ends; the day log has CR LF line ends
  worked        the worked example: the frame and its ACK, the station
                line byte for byte
  encrypted     an encrypted event after the MAC reply
  silent        the station is silent for a while, then every event comes
                through once, in order
  restart       the program is killed with events acknowledged to the device
                but not to the station; after a restart they all come through
  status        the status endpoint on loopback (LUMARIHTTP): /metrics and
                /health answer over Winsock
  window        (with --screenshot) the window on the windows platform under
                Xvfb, captured as a PNG

Exits 0 when every check passed, 1 otherwise; each failure names its check.
"""

import argparse
import json
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import tty
import urllib.error
import urllib.request
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, 'support'))
from lumariprogram import CONF_PARTS, Failure, Program, free_port, set_conf_values, wait_for  # noqa: E402

ACK = b'\x06'
WORKED_EXAMPLE = bytes.fromhex('4DD400001A0000000001011234560000000000040018001234113001000561 4C0D0A')
WORKED_LINE = b'5011 181234E13001005\x14'
KEEPALIVE_LINE = b'1011           @    \x14'
START_S = 60   # Wine starts a program in a second or two; this ends a hung one
LINE_S = 60


class Station:
    """The monitoring software on the master side of a pseudo-terminal that
    Wine opens as COM5. Answers each line (ending in 0x14) with ACK when
    answering() says so, and keeps every line and every acknowledged one."""

    def __init__(self, link):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(self.slave), link)
        self.link = link
        self.raw = bytearray()
        self.pending = bytearray()
        self.lines = []
        self.acknowledged = []
        self.answering = lambda: True

    def close(self):
        os.close(self.master)
        os.close(self.slave)
        if os.path.lexists(self.link):
            os.unlink(self.link)

    def pump(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                chunk = os.read(self.master, 4096)
            except BlockingIOError:
                break
            if not chunk:
                break
            self.raw += chunk
            self.pending += chunk
            while b'\x14' in self.pending:
                end = self.pending.index(b'\x14') + 1
                line = bytes(self.pending[:end])
                del self.pending[:end]
                self.lines.append(line)
                if self.answering():
                    os.write(self.master, ACK)
                    self.acknowledged.append(line)

    def events(self, lines):
        return [line for line in lines if line != KEEPALIVE_LINE]

    def wait_for_acknowledged(self, count, seconds):
        def enough():
            self.pump()
            return len(self.events(self.acknowledged)) >= count
        wait_for(enough, seconds, '%d acknowledged event line(s) at the station' % count)


class Lumari(Program):
    """Lumari.exe in its own folder under Wine."""

    def __init__(self, folder, environment, wine_log):
        super().__init__(folder, ['wine', os.path.join(folder, 'Lumari.exe')], environment, wine_log)

    def start_listening(self, station):
        earlier = self.day_log().count(b'Server start listening')
        self.start()

        def listening():
            station.pump()
            if self.process.poll() is not None:
                raise Failure('Lumari.exe ended with %d before it listened; day log:\n%s'
                              % (self.process.returncode, self.day_log().decode('utf-8', 'replace')))
            return self.day_log().count(b'Server start listening') > earlier
        wait_for(listening, START_S, '"Server start listening" in the day log')

    def wait_for_log(self, text, seconds, station=None):
        def found():
            if station:
                station.pump()
            return text in self.day_log()
        wait_for(found, seconds, '%r in the day log' % text)

    def forget_events(self):
        """Empties the journal of a stopped program. A kill may come between
        the station's ACK and its mark in the journal, and the event is then
        sent again after the next start, as it should be; each check starts
        from an empty journal so that this does not count against it."""
        shutil.rmtree(self.path('spool'), ignore_errors=True)


def write_conf(lumari, first_start_conf, port, keepalive):
    conf = set_conf_values(first_start_conf, (('LUMARIPORT', str(port)), ('LUMARICOMNAME', 'COM5'),
                                              ('LUMARICOMKEEPALIVE', str(keepalive))))
    with open(lumari.path(*CONF_PARTS), 'wb') as file:
        file.write(conf)


def run_device(device, port, station, *arguments):
    """Runs lumari-device to the end, pumping the station meanwhile; returns
    its JSON records."""
    process = subprocess.Popen([device, '--port', str(port), '--json', '--timeout', '30000']
                               + list(arguments), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    output = bytearray()
    os.set_blocking(process.stdout.fileno(), False)
    deadline = time.monotonic() + 120
    while True:
        station.pump()
        chunk = process.stdout.read()
        if chunk:
            output += chunk
        if process.poll() is not None:
            rest = process.stdout.read()
            if rest:
                output += rest
            break
        if time.monotonic() > deadline:
            process.kill()
            raise Failure('lumari-device did not finish:\n' + output.decode('utf-8', 'replace'))
        time.sleep(0.02)
    records = []
    for line in output.decode('utf-8', 'replace').splitlines():
        try:
            records.append(json.loads(line))
        except ValueError:
            pass
    if process.returncode != 0:
        raise Failure('lumari-device exited with %d:\n%s' % (process.returncode, output.decode('utf-8', 'replace')))
    return records


def sent_and_acks(records):
    """The frames the device sent after its MAC reply, and the ACKs it got."""
    sent = [bytes.fromhex(r['frame']) for r in records if r.get('step') == 'sent' and 'frame' in r]
    # The device checks every frame it gets against the one it expects.
    acks = [bytes.fromhex(r['frame']) for r in records if r.get('step') == 'received' and r.get('ok')]
    return sent, acks


def check_crlf(data, what):
    if not data:
        raise Failure('%s is empty' % what)
    bare = data.replace(b'\r\n', b'').count(b'\n')
    if bare:
        raise Failure('%s has %d line(s) ending in LF alone' % (what, bare))


def first_start(lumari, linux_lumari, work):
    """Both builds start with nothing beside them; the Windows file is the
    Linux one with CR LF line ends."""
    linux_dir = os.path.join(work, 'linux-first-start')
    os.makedirs(linux_dir)
    shutil.copy(linux_lumari, linux_dir)
    linux = Program(linux_dir, [os.path.join(linux_dir, os.path.basename(linux_lumari))],
                    dict(os.environ, QT_QPA_PLATFORM='offscreen'))
    expected = linux.first_start(START_S, 'the Linux first start', kill=True).replace(b'\n', b'\r\n')
    written = lumari.first_start(START_S, 'the Windows first start', kill=True)
    if written != expected:
        raise Failure('conf\\Lumari.conf differs from the Linux first-start file with CR LF:\n%r\n%r'
                      % (written, expected))
    check_crlf(lumari.day_log(), 'the day log')
    if b'[Lumari] Starting...\r\n' not in lumari.day_log():
        raise Failure('no "[Lumari] Starting..." line in the day log')
    return written


def worked_example(lumari, station, device, conf):
    port = free_port()
    write_conf(lumari, conf, port, 0)
    lumari.start_listening(station)
    try:
        records = run_device(device, port, station)
        sent, acks = sent_and_acks(records)
        if WORKED_EXAMPLE not in sent:
            raise Failure('the device did not send the worked example: %r' % records)
        # The MAC request, then one ACK for the MAC reply and one for the event.
        if len(acks) != len(sent) + 1:
            raise Failure('not every frame was acknowledged: %r' % records)
        station.wait_for_acknowledged(1, LINE_S)
        if station.events(station.lines) != [WORKED_LINE]:
            raise Failure('station lines %r, expected %r' % (station.lines, [WORKED_LINE]))
        lumari.wait_for_log(b'[com] COMMSG: ' + WORKED_LINE, LINE_S, station)
        check_crlf(lumari.day_log(), 'the day log')
    finally:
        lumari.kill()
    return acks


def encrypted_event(lumari, station, device, conf):
    port = free_port()
    write_conf(lumari, conf, port, 0)
    lumari.start_listening(station)
    try:
        run_device(device, port, station, '--encrypt', '--mac', '1122334455667788', '--id', '0A0B0C',
                   '--account', 'ABCDEF', '--event', '3401', '--zone', 'A07')
        station.wait_for_acknowledged(1, LINE_S)
        expected = [b'5011 18CDEFR40101A07\x14']
        if station.events(station.acknowledged) != expected:
            raise Failure('station lines %r, expected %r' % (station.acknowledged, expected))
        lumari.wait_for_log(b'MAC: 1122334455667788 ID: 0A0B0C', LINE_S, station)
    finally:
        lumari.kill()


def zone_line(zone):
    return ('5011 181234E130010%s\x14' % zone).encode()


def silent_then_answering(lumari, station, device, conf):
    zones = ['01', '02', '03', '04']
    port = free_port()
    write_conf(lumari, conf, port, 1)
    answer_from = [None]
    station.answering = lambda: answer_from[0] is not None and time.monotonic() >= answer_from[0]
    lumari.start_listening(station)
    try:
        for zone in zones:
            run_device(device, port, station, '--zone', zone)
        # Silent until the program has tried at least twice, then answering.
        wait_for(lambda: station.pump() or len(station.events(station.lines)) >= 2, LINE_S,
                 'repeated attempts at the silent station')
        answer_from[0] = time.monotonic()
        station.wait_for_acknowledged(len(zones), LINE_S)
        # Keepalives come every second; one after the events shows the queue is empty.
        seen = len(station.acknowledged)
        wait_for(lambda: station.pump() or (len(station.acknowledged) > seen
                                            and station.acknowledged[-1] == KEEPALIVE_LINE),
                 LINE_S, 'a keepalive after the events')
        expected = [zone_line(zone) for zone in zones]
        if station.events(station.acknowledged) != expected:
            raise Failure('acknowledged %r, expected %r' % (station.events(station.acknowledged), expected))
    finally:
        lumari.kill()
        station.answering = lambda: True


def kill_and_restart(lumari, station, device, conf):
    zones = ['101', '102', '103']
    port = free_port()
    write_conf(lumari, conf, port, 1)
    station.answering = lambda: False
    lumari.start_listening(station)
    try:
        for zone in zones:
            run_device(device, port, station, '--zone', zone)
        wait_for(lambda: station.pump() or station.events(station.lines), LINE_S,
                 'an attempt at the silent station')
        lumari.kill()
        station.answering = lambda: True
        lumari.start_listening(station)
        station.wait_for_acknowledged(len(zones), LINE_S)
        seen = len(station.acknowledged)
        wait_for(lambda: station.pump() or (len(station.acknowledged) > seen
                                            and station.acknowledged[-1] == KEEPALIVE_LINE),
                 LINE_S, 'a keepalive after the events')
        expected = [('5011 181234E13001%s\x14' % zone).encode() for zone in zones]
        if station.events(station.acknowledged) != expected:
            raise Failure('acknowledged %r, expected %r' % (station.events(station.acknowledged), expected))
    finally:
        lumari.kill()


def http_get(port, path):
    """The status code and body of one GET; (0, b'') when nothing answers."""
    try:
        with urllib.request.urlopen('http://127.0.0.1:%d%s' % (port, path), timeout=5) as reply:
            return reply.status, reply.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()
    except (urllib.error.URLError, OSError):
        return 0, b''


def status_endpoint(lumari, station, device, conf):
    del device
    http_port = free_port()
    write_conf(lumari, conf, free_port(), 1)
    path = lumari.path('conf', 'Lumari.conf')
    with open(path, 'rb') as file:
        written = file.read()
    # The optional element after the ten, as the program writes it.
    last = written.rindex(b'/>') + 2
    element = b'\r\n\t\t<LUMARIHTTP description="" value="127.0.0.1:%d"/>' % http_port
    with open(path, 'wb') as file:
        file.write(written[:last] + element + written[last:])
    lumari.start_listening(station)
    try:
        lumari.wait_for_log(b'[http] Status page listening on 127.0.0.1:%d.' % http_port, START_S, station)
        def answered(path):
            def check():
                station.pump()
                reply = http_get(http_port, path)
                return reply if reply[0] == 200 else None
            return wait_for(check, LINE_S, 'GET %s answering 200' % path)
        status, body = answered('/metrics')
        if b'lumari_receiver_listening 1' not in body:
            raise Failure('/metrics without "lumari_receiver_listening 1":\n%s' % body.decode('utf-8', 'replace'))
        # Healthy once the station acknowledged a keepalive.
        status, body = answered('/health')
        if json.loads(body).get('healthy') is not True:
            raise Failure('/health answered %d with %r' % (status, body))
    finally:
        lumari.kill()


def stop_wine_session(environment):
    subprocess.run(['wineserver', '-k'], env=environment, capture_output=True)
    subprocess.run(['wineserver', '-w'], env=environment, capture_output=True, timeout=START_S)


def screenshot(lumari, station, conf, path, environment):
    """The window once on the windows platform under Xvfb."""
    write_conf(lumari, conf, free_port(), 0)
    display = subprocess.Popen(['Xvfb', '-displayfd', '1', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        number = display.stdout.readline().decode().strip()
        if not number:
            raise Failure('Xvfb did not start')
        x_environment = dict(environment, DISPLAY=':' + number)
        x_environment.pop('WINEQT_QPA_PLATFORM', None)
        # The Wine session of the earlier checks has a desktop with no X
        # server behind it, and a new program would join it: ended first,
        # the next program starts a session on Xvfb.
        stop_wine_session(environment)
        lumari.environment = x_environment
        lumari.start_listening(station)

        # The window on the X server, as Wine maps it: a top-level window
        # named after the program.
        def window():
            station.pump()
            if lumari.process.poll() is not None:
                raise Failure('Lumari.exe ended with %d under Xvfb' % lumari.process.returncode)
            tree = subprocess.run(['xwininfo', '-root', '-tree'], env=x_environment,
                                  capture_output=True, text=True, errors='replace').stdout
            return re.search(r'^\s+0x[0-9a-f]+ "Lumari[^"]*": .* (\d+)x(\d+)\+', tree, re.M)
        shown = wait_for(window, START_S, 'the Lumari window on the X server')
        if int(shown.group(1)) < 200 or int(shown.group(2)) < 100:
            raise Failure('the Lumari window is only %sx%s' % shown.groups())

        # Painted when two captures in a row show the same pixels, and more
        # than a few colours.
        previous = [None]

        def painted():
            station.pump()
            subprocess.run(['import', '-window', 'root', path], env=x_environment, check=True,
                           capture_output=True)
            colours, signature = (subprocess.run(['identify', '-format', '%k %#', path],
                                                 capture_output=True, text=True).stdout.split() + ['', ''])[:2]
            same = signature != '' and signature == previous[0]
            previous[0] = signature
            return same and colours.isdigit() and int(colours) > 16
        wait_for(painted, START_S, 'the window painted')
    finally:
        lumari.kill()
        stop_wine_session(environment)
        display.terminate()
        display.wait(30)
        lumari.environment = environment


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--zip', required=True, help='Lumari-win64.zip')
    parser.add_argument('--device', required=True, help='the Linux lumari-device')
    parser.add_argument('--linux-lumari', required=True, help='the Linux Lumari, for the first-start file')
    parser.add_argument('--fonts', required=True, help='a folder of .ttf files for the offscreen platform')
    parser.add_argument('--wine-log', required=True, help="file for Wine's and the program's output")
    parser.add_argument('--screenshot', help='PNG file for the window under Xvfb')
    parser.add_argument('--keep', action='store_true', help='keep the temporary folder')
    options = parser.parse_args()

    prefix = os.environ.get('WINEPREFIX')
    if not prefix or not os.path.isdir(os.path.join(prefix, 'dosdevices')):
        print('WINEPREFIX must name a Wine prefix')
        return 1
    work = tempfile.mkdtemp(prefix='lumari-wine-e2e-')
    with zipfile.ZipFile(options.zip) as archive:
        archive.extractall(work)
        top = archive.namelist()[0].split('/')[0]
    folder = os.path.join(work, top)
    os.chmod(os.path.join(folder, 'Lumari.exe'), 0o755)

    environment = dict(os.environ)
    for name in list(environment):
        if name.startswith('QT_') or name in ('DISPLAY', 'WAYLAND_DISPLAY'):
            del environment[name]
    environment.update(WINEQT_QPA_PLATFORM='offscreen', WINEQT_FORCE_STDERR_LOGGING='1',
                       WINEQT_QPA_FONTDIR='Z:' + os.path.abspath(options.fonts).replace('/', '\\'))
    wine_log = open(options.wine_log, 'ab')
    lumari = Lumari(folder, environment, wine_log)
    station = Station(os.path.join(prefix, 'dosdevices', 'com5'))

    checks = [('first start', None), ('worked', worked_example), ('encrypted', encrypted_event),
              ('silent', silent_then_answering), ('restart', kill_and_restart), ('status', status_endpoint)]
    if options.screenshot:
        checks.append(('window', None))
    failed = 0
    conf = None
    for name, check in checks:
        started = time.monotonic()
        station.lines.clear()
        station.acknowledged.clear()
        lumari.forget_events()
        try:
            if name == 'first start':
                conf = first_start(lumari, options.linux_lumari, work)
            elif conf is None:
                raise Failure('no first-start configuration to work from')
            elif name == 'window':
                screenshot(lumari, station, conf, options.screenshot, environment)
            else:
                check(lumari, station, device=options.device, conf=conf)
            print('PASS   %-12s %5.1f s' % (name, time.monotonic() - started), flush=True)
        except (Failure, OSError, subprocess.SubprocessError) as failure:
            failed += 1
            lumari.kill()
            print('FAIL!  %-12s %s' % (name, failure), flush=True)
            print('       day log:\n' + lumari.day_log().decode('utf-8', 'replace')[-3000:], flush=True)
    station.close()
    if failed or options.keep:
        print('Kept: ' + work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    print('%d of %d end-to-end checks under Wine passed' % (len(checks) - failed, len(checks)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Runs lumari-station.exe from Lumari-win64.zip under Wine, as an installer
with only a laptop would, and plays the converter against it:

  listen   --listen 0: connects over loopback, sends an event line and a
           keepalive line, expects 0x06 for each
  com      --device COM6, COM6 being a pseudo-terminal this script holds the
           other end of (a null-modem pair): the same two lines

Each run is ended with SIGINT, which Wine hands the program as Ctrl+C; the
station must print both lines decoded and its summary, and exit with 0.

Exits 0 when both checks passed, 1 otherwise; each failure names its check.
"""

import argparse
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import tty
import zipfile

EVENT_LINE = b'5011 181234E13001005\x14'
KEEPALIVE_LINE = b'1011           @    \x14'
EXPECTED_OUTPUT = [
    r'#1 \S+ EVENT     receiver 01 line 1 account 1234 qualifier E event 130 group 01 zone 005 time - -> ACK'
    r' \| 5011 181234E13001005<14>',
    r'#2 \S+ KEEPALIVE receiver 01 line 1 -> ACK \| 1011           @    <14>',
    r'summary: 2 line\(s\): 1 event\(s\), 1 keepalive\(s\), 0 unrecognised; answered 2 ACK, 0 NAK, '
    r'0 unanswered; exit 0',
]
WAIT_S = 60  # Wine starts a program in a second or two; this ends a hung one


class Failure(Exception):
    pass


class Station:
    """lumari-station.exe under Wine, its output read line by line."""

    def __init__(self, folder, environment, wine_log, arguments):
        self.process = subprocess.Popen(['wine', os.path.join(folder, 'lumari-station.exe')] + arguments,
                                        cwd=folder, env=environment, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=wine_log)

    def first_line(self):
        if not select.select([self.process.stdout], [], [], WAIT_S)[0]:
            raise Failure('the station printed nothing within %d s' % WAIT_S)
        return self.process.stdout.readline().decode('utf-8', 'replace').strip()

    def interrupt(self):
        """Ctrl+C; returns the rest of the output."""
        self.process.send_signal(signal.SIGINT)
        try:
            output, _ = self.process.communicate(timeout=WAIT_S)
        except subprocess.TimeoutExpired:
            raise Failure('the station did not end within %d s of Ctrl+C' % WAIT_S)
        if self.process.returncode != 0:
            raise Failure('the station ended with %d after Ctrl+C' % self.process.returncode)
        return output.decode('utf-8', 'replace').splitlines()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def check_output(lines):
    lines = [line.strip() for line in lines if line.strip()]
    for pattern in EXPECTED_OUTPUT:
        if not any(re.fullmatch(pattern, line) for line in lines):
            raise Failure('no output line like %r in %r' % (pattern, lines))


def listen_check(station_for, prefix):
    station = station_for(['--listen', '0'])
    try:
        first = station.first_line()
        match = re.fullmatch(r'listen (\d+)', first)
        if not match:
            raise Failure('first line %r, expected "listen PORT"' % first)
        with socket.create_connection(('127.0.0.1', int(match.group(1))), timeout=WAIT_S) as line:
            for sent in (EVENT_LINE, KEEPALIVE_LINE):
                line.sendall(sent)
                answer = line.recv(16)
                if answer != b'\x06':
                    raise Failure('answer %r to %r, expected 0x06' % (answer, sent))
        # The converter has gone: the station notes it and goes on listening.
        time.sleep(0.5)
        output = station.interrupt()
        check_output(output)
        if not any(line.startswith('connected 127.0.0.1:') for line in output):
            raise Failure('no "connected" line in %r' % output)
    finally:
        station.kill()


def com_check(station_for, prefix):
    master, slave = pty.openpty()
    tty.setraw(slave)
    link = os.path.join(prefix, 'dosdevices', 'com6')
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    station = station_for(['--device', 'COM6'])
    try:
        first = station.first_line()
        if first != 'device COM6':
            raise Failure('first line %r, expected "device COM6"' % first)
        for sent in (EVENT_LINE, KEEPALIVE_LINE):
            os.write(master, sent)
            answer = os.read(master, 16) if select.select([master], [], [], WAIT_S)[0] else b''
            if answer != b'\x06':
                raise Failure('answer %r to %r, expected 0x06' % (answer, sent))
        check_output(station.interrupt())
    finally:
        station.kill()
        os.unlink(link)
        os.close(master)
        os.close(slave)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--zip', required=True, help='Lumari-win64.zip')
    parser.add_argument('--wine-log', required=True, help="file for Wine's messages")
    options = parser.parse_args()

    prefix = os.environ.get('WINEPREFIX')
    if not prefix or not os.path.isdir(os.path.join(prefix, 'dosdevices')):
        print('WINEPREFIX must name a Wine prefix')
        return 1
    work = tempfile.mkdtemp(prefix='lumari-wine-station-')
    with zipfile.ZipFile(options.zip) as archive:
        archive.extractall(work)
        folder = os.path.join(work, archive.namelist()[0].split('/')[0])
    os.chmod(os.path.join(folder, 'lumari-station.exe'), 0o755)
    environment = {name: value for name, value in os.environ.items() if not name.startswith('QT_')}
    with open(options.wine_log, 'ab') as wine_log:
        def station_for(arguments):
            return Station(folder, environment, wine_log, arguments)
        failed = 0
        checks = [('listen', listen_check), ('com', com_check)]
        for name, check in checks:
            started = time.monotonic()
            try:
                check(station_for, prefix)
                print('PASS   %-8s %5.1f s' % (name, time.monotonic() - started), flush=True)
            except (Failure, OSError, subprocess.SubprocessError) as failure:
                failed += 1
                print('FAIL!  %-8s %s' % (name, failure), flush=True)
    shutil.rmtree(work, ignore_errors=True)
    print('%d of %d station checks under Wine passed' % (len(checks) - failed, len(checks)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Runs a Windows test program under Wine against a monitoring station on a
pseudo-terminal.

Wine opens COMn through the symbolic link $WINEPREFIX/dosdevices/comn; this
script points that link at the slave side of a pseudo-terminal and plays the
station on the master side. The test program drives the station over its
own standard output and input: a line "@station <command>" is a request,
answered with one line on the program's standard input ("ok ..." or
"error ..."). Every other line of the program's output is passed through.

Requests:
  new [flow]        a fresh pseudo-terminal behind the link; "flow" leaves
                    CTS/RTS and XON/XOFF flow control set on it, as a port
                    another program used could have it
  send HEX [MS]     writes the bytes to the program, at once or MS ms later
  take COUNT MS     waits until COUNT bytes came or MS ms passed; answers
                    with what came (hex) and forgets it
  stall / resume    stops and restarts reading what the program writes
  drain MS          reads until the program wrote nothing for MS ms; answers
                    with the number of bytes and forgets them
  line              the line settings as the pseudo-terminal holds them
  hangup            closes the station's side: the port's device is gone

Exit status: the program's, or 124 when it ran past --timeout.
"""

import argparse
import fcntl
import os
import pty
import select
import subprocess
import sys
import termios
import time
import tty

SPEEDS = {getattr(termios, name): int(name[1:])
          for name in dir(termios) if name.startswith('B') and name[1:].isdigit()}


class Station:
    def __init__(self, link):
        self.link = link
        self.master = None
        self.slave = None
        self.reading = True
        self.received = bytearray()
        self.pending_sends = []  # (due time, bytes)

    def close(self):
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None
        self.pending_sends = []

    def renew(self, flow):
        self.close()
        master, slave = pty.openpty()
        tty.setraw(slave)
        if flow:
            attributes = termios.tcgetattr(slave)
            attributes[0] |= termios.IXON | termios.IXOFF
            attributes[2] |= termios.CRTSCTS
            # An unusual XON character, to show it is kept.
            attributes[6][termios.VSTART] = b'\x01'
            termios.tcsetattr(slave, termios.TCSANOW, attributes)
        fcntl.fcntl(master, fcntl.F_SETFL, fcntl.fcntl(master, fcntl.F_GETFL) | os.O_NONBLOCK)
        self.master, self.slave = master, slave
        self.reading = True
        self.received = bytearray()
        temporary = self.link + '.new'
        if os.path.lexists(temporary):
            os.unlink(temporary)
        os.symlink(os.ttyname(slave), temporary)
        os.replace(temporary, self.link)
        return os.ttyname(slave)

    def read_available(self):
        if self.master is None or not self.reading:
            return
        while True:
            try:
                chunk = os.read(self.master, 65536)
            except BlockingIOError:
                return
            except OSError:
                return
            if not chunk:
                return
            self.received += chunk

    def write(self, data):
        if self.master is None:
            return False
        view = memoryview(data)
        deadline = time.monotonic() + 5
        while view:
            try:
                count = os.write(self.master, view)
                view = view[count:]
            except BlockingIOError:
                if time.monotonic() > deadline:
                    return False
                select.select([], [self.master], [], 0.1)
        return True

    def send_due(self, now):
        due = [item for item in self.pending_sends if item[0] <= now]
        self.pending_sends = [item for item in self.pending_sends if item[0] > now]
        for _, data in due:
            self.write(data)

    def line(self):
        attributes = termios.tcgetattr(self.slave)
        iflag, cflag, cc = attributes[0], attributes[2], attributes[6]
        vstart = cc[termios.VSTART]
        vstart = vstart[0] if isinstance(vstart, bytes) else vstart
        return ('speed=%d cstopb=%d crtscts=%d ixon=%d ixoff=%d vstart=%d'
                % (SPEEDS.get(attributes[5], -1), bool(cflag & termios.CSTOPB),
                   bool(cflag & termios.CRTSCTS), bool(iflag & termios.IXON),
                   bool(iflag & termios.IXOFF), vstart))


class Harness:
    def __init__(self, station, child):
        self.station = station
        self.child = child
        self.output = bytearray()
        self.waiting = None  # (kind, count, deadline, quiet ms)

    def reply(self, text):
        try:
            self.child.stdin.write((text + '\n').encode())
            self.child.stdin.flush()
        except BrokenPipeError:
            pass

    def request(self, line):
        words = line.split()
        command, arguments = (words[0], words[1:]) if words else ('', [])
        station = self.station
        try:
            if command == 'new':
                self.reply('ok ' + station.renew('flow' in arguments))
            elif command == 'send':
                data = bytes.fromhex(arguments[0]) if arguments else b''
                delay = int(arguments[1]) if len(arguments) > 1 else 0
                if delay <= 0:
                    self.reply('ok' if station.write(data) else 'error write')
                else:
                    station.pending_sends.append((time.monotonic() + delay / 1000, data))
                    self.reply('ok')
            elif command == 'take':
                self.waiting = ('take', int(arguments[0]),
                                time.monotonic() + int(arguments[1]) / 1000, 0)
            elif command == 'drain':
                quiet = int(arguments[0])
                station.reading = True
                self.waiting = ('drain', 0, time.monotonic() + 30, quiet)
                self.quiet_since = time.monotonic()
                self.drained = 0
            elif command == 'stall':
                station.reading = False
                self.reply('ok')
            elif command == 'resume':
                station.reading = True
                self.reply('ok')
            elif command == 'line':
                self.reply('ok ' + station.line())
            elif command == 'hangup':
                station.close()
                self.reply('ok')
            else:
                self.reply('error unknown request ' + command)
        except (OSError, ValueError, IndexError) as failure:
            self.reply('error %s' % failure)

    def check_waiting(self, now):
        if self.waiting is None:
            return
        kind, count, deadline, quiet = self.waiting
        station = self.station
        if kind == 'take':
            if len(station.received) >= count or now >= deadline:
                taken = bytes(station.received)
                station.received = bytearray()
                self.waiting = None
                self.reply('ok ' + taken.hex())
        else:
            if station.received:
                self.drained += len(station.received)
                station.received = bytearray()
                self.quiet_since = now
            if now - self.quiet_since >= quiet / 1000 or now >= deadline:
                self.waiting = None
                self.reply('ok %d' % self.drained)

    def handle_output(self, chunk):
        self.output += chunk
        while b'\n' in self.output:
            line, _, rest = self.output.partition(b'\n')
            self.output = bytearray(rest)
            text = line.rstrip(b'\r').decode('utf-8', 'replace')
            if text.startswith('@station '):
                self.request(text[len('@station '):])
            else:
                print(text, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--link', required=True, help='the dosdevices link, e.g. $WINEPREFIX/dosdevices/com5')
    parser.add_argument('--wine-log', required=True, help="file for Wine's standard error")
    parser.add_argument('--timeout', type=float, default=300)
    parser.add_argument('command', nargs=argparse.REMAINDER)
    options = parser.parse_args()
    command = options.command[1:] if options.command[:1] == ['--'] else options.command
    if not command:
        parser.error('no program to run')

    station = Station(options.link)
    station.renew(False)
    with open(options.wine_log, 'ab') as wine_log:
        child = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=wine_log)
    harness = Harness(station, child)
    out = child.stdout.fileno()
    fcntl.fcntl(out, fcntl.F_SETFL, fcntl.fcntl(out, fcntl.F_GETFL) | os.O_NONBLOCK)
    deadline = time.monotonic() + options.timeout
    output_open = True
    exited_at = None
    status = None

    while True:
        now = time.monotonic()
        if now >= deadline:
            child.kill()
            child.wait()
            print('ptystation: %s ran longer than %g s and was killed' % (command[-1], options.timeout),
                  flush=True)
            status = 124
            break
        if child.poll() is not None and exited_at is None:
            exited_at = now
        # Wine's helpers may keep the pipe open after the program ended.
        if exited_at is not None and (not output_open or now - exited_at > 2):
            status = child.returncode
            break

        waits = [0.2]
        if station.pending_sends:
            waits.append(max(0.0, min(due for due, _ in station.pending_sends) - now))
        if harness.waiting is not None:
            waits.append(0.01)
        watched = [out] if output_open else []
        if station.master is not None and station.reading:
            watched.append(station.master)
        readable, _, _ = select.select(watched, [], [], min(waits))

        now = time.monotonic()
        station.send_due(now)
        if station.master is not None and station.master in readable:
            station.read_available()
        harness.check_waiting(now)
        if out in readable:
            try:
                chunk = os.read(out, 65536)
            except BlockingIOError:
                chunk = None
            if chunk == b'':
                output_open = False
            elif chunk:
                harness.handle_output(chunk)

    if harness.output:
        print(harness.output.decode('utf-8', 'replace'), flush=True)
    station.close()
    return status


if __name__ == '__main__':
    sys.exit(main())

"""The real program run in a folder of its own, the way the Python end-to-end
tests start it: its first start, its day log and the values of its
configuration file's elements.

A script beside another test folder imports it after putting this folder on
its path:

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, 'support'))
    from lumariprogram import Failure, Program, free_port, set_conf_values, wait_for
"""

import os
import re
import socket
import subprocess
import time

CONF_PARTS = ('conf', 'Lumari.conf')


class Failure(Exception):
    """A check that did not pass; its text says what was seen."""


def wait_for(condition, seconds, what, interval=0.05):
    """The first true value of condition(), asked every interval seconds;
    Failure naming what after seconds."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure('timed out after %d s waiting for %s' % (seconds, what))
        time.sleep(interval)


def free_port():
    with socket.socket() as probe:
        probe.bind(('127.0.0.1', 0))
        return probe.getsockname()[1]


def set_conf_values(conf, values):
    """The configuration file's bytes with the value attribute of each
    (element, value) pair set; Failure when an element is not there once."""
    for element, value in values:
        conf, count = re.subn(rb'(<' + element.encode() + rb' [^>]*value=")[^"]*(")',
                              rb'\g<1>' + value.encode() + rb'\g<2>', conf)
        if count != 1:
            raise Failure('no %s element in the first-start configuration' % element)
    return conf


class Program:
    """The program in folder, started by command (a list, the program's file
    among it) with environment in that folder; its output goes to output."""

    def __init__(self, folder, command, environment, output=subprocess.DEVNULL):
        self.folder = folder
        self.command = list(command)
        self.environment = environment
        self.output = output
        self.process = None

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def day_log(self):
        """The newest day log's bytes; empty before there is one."""
        directory = self.path('log')
        logs = sorted(os.listdir(directory)) if os.path.isdir(directory) else []
        if not logs:
            return b''
        with open(os.path.join(directory, logs[-1]), 'rb') as file:
            return file.read()

    def start(self, arguments=()):
        self.process = subprocess.Popen(self.command + list(arguments), cwd=self.folder, env=self.environment,
                                        stdin=subprocess.DEVNULL, stdout=self.output, stderr=self.output)

    def stop(self, seconds=15):
        """Asks the program to end, and ends it when it does not."""
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(seconds)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(seconds)

    def kill(self, seconds=30):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(seconds)
        self.process = None

    def first_start(self, seconds, what='the first start', kill=False):
        """Starts the program with nothing beside it, ends it (killed, or
        asked to stop) once it has written its configuration file and its
        network line, and returns that file's bytes."""
        self.start()
        try:
            wait_for(lambda: os.path.exists(self.path(*CONF_PARTS)) and b'[net]' in self.day_log(), seconds, what)
        finally:
            if kill:
                self.kill()
            else:
                self.stop()
        with open(self.path(*CONF_PARTS), 'rb') as file:
            return file.read()

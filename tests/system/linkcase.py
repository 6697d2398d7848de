"""Shared rig for the link tests: the real program under Wine and Xvfb, the
chat client stand-in beside it, and the status service stand-in as proxy."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "rig"))
import harness  # noqa: E402,F401
from harness import MOOD_PREFIX  # noqa: E402,F401
from status_service import StatusService  # noqa: E402

PROTOCOL = b"PROTOCOL 5\0"
PING = b" PING\0"


class LinkCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = StatusService()
        cls.service.start()
        cls.addClassCleanup(cls.service.stop)
        cls.wine = harness.Wine(cls.__name__.lower(), proxy_port=cls.service.port)
        cls.addClassCleanup(cls.wine.close)  # also when the rest of setUpClass fails
        cls.program = harness.install_program(cls.wine.folder("app"), harness.settings_text("alice", "s3cret"))

    def setUp(self):
        self.started = []
        self.posts_before = len(self.posts())

    def tearDown(self):
        for p in self.started:
            p.kill()

    def stop_started(self):
        """Stops what the last row of a case started, even when that row failed."""
        self.tearDown()
        self.started = []
        self.posts_before = len(self.posts())

    def start_client(self, *args):
        client = self.wine.start(harness.exe("skype_standin.exe"), *args, stdin=True)
        self.started.append(client)
        client.expect(r"^ready ")
        return client

    def start_program(self):
        program = self.wine.start(self.program)
        self.started.append(program)
        return program

    def posts(self):
        """Bodies of the authenticated requests, in arrival order."""
        return [r["body"] for r in self.service.requests() if r["authorization"]]

    def new_posts(self, count, timeout=20):
        self.service.wait_for(self.posts_before + count, timeout=timeout, authenticated=True)
        return self.posts()[self.posts_before:]

    def attach(self, client):
        """Waits for the attach and the protocol command; returns the time of the reply."""
        replied, _ = client.expect(r"^replied \d+ 0$")
        _, m = client.expect(r"^command \d+ \w+ (\d+) (\w*)$")
        self.assertEqual((int(m.group(1)), bytes.fromhex(m.group(2))), (11, PROTOCOL))
        return replied

    def next_command(self, client, timeout=20):
        when, m = client.expect(r"^command \d+ \w+ (\d+) (\w*)$", timeout=timeout)
        data = bytes.fromhex(m.group(2))
        self.assertEqual(int(m.group(1)), len(data))
        return when, data

    def debug_lines(self, program, text):
        return [t for t, line in program.debug if line == text]

    def wait_debug(self, program, text, count=1, timeout=10):
        """The program's debug lines `text`, once at least `count` of them
        have been read: they come through Wine's error output, and may trail
        what the client already told."""
        harness.wait_until(lambda: len(self.debug_lines(program, text)) >= count, timeout, step=0.05)
        return self.debug_lines(program, text)

    def send(self, client, sender, data, size="auto"):
        client.send("send %s %s %s" % (sender, size, data.hex()))
        client.expect(r"^sent ")

    def settle(self, seconds=1.5):
        time.sleep(seconds)

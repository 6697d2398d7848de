"""The reference AT Protocol server (PDS) for the tests and the demo, behind
the rig's nginx with TLS.

rig/pds/serve.js sets it up as the reference's development network without
an AppView does, with a PLC directory in memory; scripts/setup installs it
from rig/pds/package-lock.json. It listens on loopback only and reaches no
other host: handles end in ".test" and resolve on the server itself.

Its clock can be moved, so that a test can see an access token expire (they
last 120 minutes) without waiting for it: node runs under Debian's faketime
with the multithreaded library, which reads the offset from a file of ours
at every reading of the wall clock (FAKETIME_NO_CACHE). The monotonic clock
is left alone, so the server's timers and timeouts run as usual. The
wrapper sets FAKETIME, which would win over the file, so env drops it
before node starts.

The helpers below speak XRPC over https through nginx, the way the program
does, trusting the test root alone."""

import json
import os
import ssl
import unittest
import urllib.error
import urllib.parse
import urllib.request

import harness
import tls
import ways
from xrpc_relay import XrpcRelay

NODE = "/usr/bin/node"
FAKETIME = "/usr/bin/faketime"
ENV = "/usr/bin/env"
SERVE = os.path.join(harness.ROOT, "rig", "pds", "serve.js")

# How long the server's access tokens last (its createSession and
# refreshSession make them with "120mins").
ACCESS_LIFETIME = 120 * 60

# What createRecord posts go into.
POSTS = "app.bsky.feed.post"


class XrpcError(Exception):
    """An answer other than 200: its status and its JSON body (None when
    the body was not JSON)."""

    def __init__(self, status, body):
        super().__init__("%d %s" % (status, body))
        self.status = status
        self.body = body


class Pds:
    """The PDS on a free loopback port, nginx with TLS in front of it on
    another (url()), both in folder. Several may run at once."""

    def __init__(self, folder, certs, relay=False):
        """certs: from tls.make_certs; nginx serves "trusted". With relay,
        an XrpcRelay (self.relay) sits between nginx and the server. Where
        scripts/setup could not install it, the case is skipped, saying why."""
        missing = ways.pds_missing()
        if missing:
            raise unittest.SkipTest(ways.NOT_RUN_PDS % missing)
        self.dir = folder
        os.makedirs(os.path.join(folder, "data"), exist_ok=True)
        self.clock_file = os.path.join(folder, "clock")
        self.offset = 0
        self._write_clock()
        self.port = tls.free_port()
        env = dict(os.environ, TMPDIR=os.path.join(folder, "data"), LOG_ENABLED="true", LOG_LEVEL="warn",
                   FAKETIME_TIMESTAMP_FILE=self.clock_file, FAKETIME_NO_CACHE="1",
                   FAKETIME_DONT_FAKE_MONOTONIC="1")
        out = os.path.join(folder, "pds.out")
        self.proc = tls._start([FAKETIME, "-m", "-f", "+0", ENV, "-u", "FAKETIME", NODE, SERVE, str(self.port)],
                               folder, lambda: (harness.read_text(out) or "").startswith("ready "), [], "pds",
                               env=env, group=True)
        self.relay = None
        try:
            if relay:
                self.relay = XrpcRelay(self.port)
            self.tls = tls.TlsService(os.path.join(folder, "nginx"), certs["trusted"],
                                      self.relay.port if relay else self.port)
        except Exception:
            if self.relay:
                self.relay.stop()
            tls._stop(self.proc, group=True)
            raise
        self._context = ssl.create_default_context(cafile=certs["root"])

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        try:
            self.tls.stop()
        finally:
            if self.relay:
                self.relay.stop()
            tls._stop(self.proc, group=True)

    def url(self, path="/"):
        """The https address of path, through nginx."""
        return self.tls.url(path)

    def _write_clock(self):
        # Written whole and renamed, so the server never reads half a line.
        part = self.clock_file + ".new"
        with open(part, "w") as f:
            f.write("%+d\n" % self.offset)
        os.replace(part, self.clock_file)

    def jump_clock(self, seconds):
        """Moves the server's wall clock forward by seconds, for good."""
        self.offset += seconds
        self._write_clock()

    def xrpc(self, name, body=None, token=None, params=None):
        """Calls one XRPC method: a procedure (POST, JSON body) when body is
        given, else a query (GET with params). Returns the JSON answer of a
        200; raises XrpcError for any other status."""
        path = "/xrpc/" + name
        if params:
            path += "?" + urllib.parse.urlencode(params)
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.url(path), data=data, method="GET" if body is None else "POST")
        if data is not None:
            request.add_header("Content-Type", "application/json")
        if token is not None:
            request.add_header("Authorization", "Bearer " + token)
        try:
            with urllib.request.urlopen(request, context=self._context, timeout=30) as answer:
                return json.loads(answer.read() or b"{}")
        except urllib.error.HTTPError as e:
            raw = e.read()
            try:
                parsed = json.loads(raw)
            except ValueError:
                parsed = None
            raise XrpcError(e.code, parsed) from None

    def create_account(self, handle, password):
        """Makes an account (handle e.g. "alice.test") and returns the
        session createAccount answers: did, handle, accessJwt, refreshJwt."""
        return self.xrpc("com.atproto.server.createAccount",
                         {"handle": handle, "password": password, "email": handle + "@example.com"})

    def create_app_password(self, session, name):
        """Makes an app password for the account of session (as
        create_account returns it) and returns the password."""
        return self.xrpc("com.atproto.server.createAppPassword", {"name": name},
                         token=session["accessJwt"])["password"]

    def posts(self, did):
        """The account's posts as stored, oldest first: each record's value
        (text, createdAt, $type)."""
        records = []
        cursor = None
        while True:
            params = {"repo": did, "collection": POSTS, "limit": 100}
            if cursor:
                params["cursor"] = cursor
            page = self.xrpc("com.atproto.repo.listRecords", params=params)
            records += page["records"]
            cursor = page.get("cursor")
            if not cursor or not page["records"]:
                break
        # listRecords gives the newest first.
        return [r["value"] for r in reversed(records)]

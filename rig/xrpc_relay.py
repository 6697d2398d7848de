"""A relay between the rig's nginx and the reference AT Protocol server, for
the tests and the benchmarks: it records every request as nginx passed it on
(method, path, headers, body), hands it to the server, and records when the
server's answer came back (time.monotonic(), the clock the benchmarks'
services stamp with) and its status.

Modes, for what the reference server never does by itself:
- "pass": the server's answer as it came, with its Content-Length;
- "unsized": the same answer with no Content-Length, ended by closing the
  connection, which nginx hands on to the client in chunks;
- "factor": createSession is answered 401 AuthFactorTokenRequired without
  asking the server, as Bluesky's own service answers an account's main
  password where it wants a code sent by e-mail (the server's lexicon,
  com.atproto.server.createSession, names that error);
- "hold-session": createSession is recorded and held until release(), then
  handed to the server, as a sign-in still on the network;
- "silent-session", "silent-record": createSession, or createRecord, is
  recorded and never answered: the connection stays open, silent, until
  release() or stop() drops it.

Whatever the mode, resolveHandle for a handle in `handle_answers` is
answered by the relay itself, as a server that misbehaves would answer it:
(status, body, seconds to wait first)."""

import http.client
import json
import threading
import time
import urllib.parse

from loopback_http import LoopbackHttp, read_request

# Not handed on in either direction: they are about one connection.
HOP_BY_HOP = {"connection", "keep-alive", "transfer-encoding", "te", "trailer", "upgrade", "proxy-connection",
              "content-length"}

SILENT = {"silent-session": "/xrpc/com.atproto.server.createSession",
          "silent-record": "/xrpc/com.atproto.repo.createRecord"}

FACTOR_ANSWER = {"error": "AuthFactorTokenRequired", "message": "A sign in code has been sent to your email address"}


class XrpcRelay:
    def __init__(self, upstream_port):
        self.upstream = upstream_port
        self.mode = "pass"
        self.handle_answers = {}
        self._lock = threading.Condition()
        self._released = threading.Event()
        self._records = []
        # nginx speaks HTTP/1.0 to its upstream: an answer ends at its
        # length, or where the connection closes.
        self._http = LoopbackHttp("xrpc-relay", self._serve, protocol="HTTP/1.0")
        self.port = self._http.port

    def stop(self):
        self._released.set()
        self._http.stop()

    def release(self):
        """Lets held requests on, and drops the silent ones; later ones are
        held or silent again."""
        self._released.set()
        self._released = threading.Event()

    def requests(self, path=None, since=0):
        """The requests so far, from the since'th on, in the order they
        came; those to one path alone ("/xrpc/NAME", the query left off)
        where path is given. Each has method, path, headers, body, and, once
        answered, status, answer (the body) and answered (the monotonic
        time)."""
        with self._lock:
            return [dict(r) for r in self._records[since:] if path is None or r["path"].split("?")[0] == path]

    def wait_for(self, path, count, timeout, since=0, answered=True):
        """Waits until count requests to path, from the since'th request on,
        have been answered (or only come, when not answered)."""
        with self._lock:
            self._lock.wait_for(lambda: len([r for r in self.requests(path, since)
                                             if "status" in r or not answered]) >= count, timeout)

    def _serve(self, handler):
        record = read_request(handler)
        body = record["body"]
        path, _, query = handler.path.partition("?")
        with self._lock:
            self._records.append(record)
            mode = self.mode
            scripted = self.handle_answers.get(urllib.parse.parse_qs(query).get("handle", [None])[0]) \
                if path == "/xrpc/com.atproto.identity.resolveHandle" else None
            released = self._released
            self._lock.notify_all()
        if SILENT.get(mode) == path:
            released.wait()
            handler.close_connection = True
            return
        if mode == "hold-session" and path == "/xrpc/com.atproto.server.createSession":
            released.wait()
        if scripted:
            status, answer, wait = scripted
            time.sleep(wait)
            headers = [("Content-Type", "application/json; charset=utf-8")]
        elif mode == "factor" and path == "/xrpc/com.atproto.server.createSession":
            status, headers, answer = 401, [("Content-Type", "application/json; charset=utf-8")], \
                json.dumps(FACTOR_ANSWER).encode()
        else:
            status, headers, answer = self._ask(handler, body)
        with self._lock:
            record.update(status=status, answer=answer, answered=time.monotonic())
            self._lock.notify_all()
        handler.send_response(status)
        for name, value in headers:
            handler.send_header(name, value)
        if mode != "unsized":
            handler.send_header("Content-Length", str(len(answer)))
        handler.end_headers()
        handler.wfile.write(answer)

    def _ask(self, handler, body):
        connection = http.client.HTTPConnection("127.0.0.1", self.upstream, timeout=60)
        try:
            connection.putrequest(handler.command, handler.path, skip_host=True, skip_accept_encoding=True)
            for name, value in handler.headers.items():
                if name.lower() not in HOP_BY_HOP:
                    connection.putheader(name, value)
            if body:
                connection.putheader("Content-Length", str(len(body)))
            connection.endheaders(body or None)
            answer = connection.getresponse()
            data = answer.read()
            headers = [(n, v) for n, v in answer.getheaders() if n.lower() not in HOP_BY_HOP]
            return answer.status, headers, data
        finally:
            connection.close()

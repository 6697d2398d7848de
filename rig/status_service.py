"""Stand-in for the status service, for the tests and the demo.

The program reaches the service through the platform's HTTP proxy setting, so
this server is that proxy: request lines carry absolute URIs and we answer them
ourselves. Each request is recorded once its head and body have been read and
before any answer goes out, so a test also sees requests that got no answer or
a broken one.

Requests without an Authorization header get a Basic challenge in every mode
but "refuse" and "hang". The mode picks the answer to authenticated requests:

  normal             200, small JSON {"id": N, "text": status}
  status500          500
  empty              200, Content-Length: 0
  no-length          200, no Content-Length, body, close
  length-negative    Content-Length: -5, body, close
  length-nonnumeric  Content-Length: abc, body, close
  length-huge        Content-Length: 4000000000, 300 bytes, close
  length-overlong    Content-Length of 120 digits, body, close
  length-large       Content-Length: 10000000, 1000 bytes, close
  close-mid-body     Content-Length: 1000, 10 bytes, close
  redirect           307 to the address in .location
  unauthorized       401 with the challenge, as for a wrong password

and for every connection, whatever the credentials:

  refuse             accept and close at once, record nothing
  hang               record the request, never answer, hold the socket until stop()

Basic credentials are decoded base64 -> bytes -> split at the first b":" and
kept as str decoded latin-1, so .encode("latin-1") gives back the exact bytes
the client sent, whatever code page it used.

Run as a script for the demo: prints "listening 127.0.0.1:PORT", then a line
per request, until Ctrl-C or SIGTERM."""

import argparse
import base64
import binascii
import json
import re
import signal
import socket
import sys
import threading
import time
import urllib.parse

# Broken answers: Content-Length value sent (None: no header) and the body bytes
# actually sent before the connection is closed.
_BROKEN = {
    "no-length": (None, b'{"id":1,"text":"no length"}'),
    "length-negative": ("-5", b'{"id":1,"text":"negative"}'),
    "length-nonnumeric": ("abc", b'{"id":1,"text":"nonnumeric"}'),
    "length-huge": ("4000000000", b"x" * 300),
    "length-overlong": ("9" * 120, b'{"id":1,"text":"overlong"}'),
    "length-large": ("10000000", b"x" * 1000),
    "close-mid-body": ("1000", b'{"id":1,"t'),
}
MODES = ("normal", "status500", "empty", "refuse", "hang", "redirect", "unauthorized") + tuple(_BROKEN)

_HEAD_END = re.compile(rb"\r?\n\r?\n")
_MAX_HEAD = 65536
_CHALLENGE = b"Could not authenticate you.\n"


def _values(headers, name):
    return [v for n, v in headers if n.lower() == name.lower()]


def _decode_basic(value):
    scheme, _, token = value.strip().partition(" ")
    if scheme.lower() != "basic":
        return None, None
    try:
        raw = base64.b64decode(token.strip(), validate=True)
    except (binascii.Error, ValueError):
        return None, None
    user, colon, password = raw.partition(b":")
    return user.decode("latin-1"), password.decode("latin-1") if colon else None


class _Reader:
    """Buffered reads from one connection; pipelined requests stay in the buffer."""

    def __init__(self, sock):
        self.sock = sock
        self.buf = b""

    def _more(self):
        try:
            data = self.sock.recv(65536)
        except OSError:
            data = b""
        self.buf += data
        return bool(data)

    def head(self):
        """The next request head, or None when the peer is gone first."""
        while True:
            # Stray CRLFs between requests are allowed and ignored.
            self.buf = self.buf.lstrip(b"\r\n")
            found = _HEAD_END.search(self.buf)
            if found:
                head, self.buf = self.buf[:found.start()], self.buf[found.end():]
                return head
            if len(self.buf) > _MAX_HEAD or not self._more():
                return None

    def body(self, length):
        while len(self.buf) < length and self._more():
            pass
        body, self.buf = self.buf[:length], self.buf[length:]
        return body


class StatusService:
    def __init__(self, mode="normal", port=0):
        self._lock = threading.Condition()
        self._records = []
        self._connections = 0
        self._socks = set()
        self._threads = []
        self._stopping = False
        self._next_id = 1
        self._listener = None
        self._acceptor = None
        self._wanted_port = port
        self.port = None
        self.location = None  # where "redirect" sends the client
        self._answering = threading.Event()  # cleared while answers are held
        self._answering.set()
        self.set_mode(mode)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def set_mode(self, mode):
        if mode not in MODES:
            raise ValueError("unknown mode %r" % (mode,))
        with self._lock:
            self._mode = mode

    def hold(self):
        """Holds every answer, in every mode, from now until release(): a
        service too slow to answer while requests pile up."""
        self._answering.clear()

    def release(self):
        self._answering.set()

    def connections(self):
        with self._lock:
            return self._connections

    def requests(self):
        with self._lock:
            return [dict(r, headers=list(r["headers"])) for r in self._records]

    def wait_for(self, count, timeout, authenticated=False):
        """Records received so far (only those with Authorization if
        `authenticated`), once there are `count` of them or `timeout` is up."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                found = [dict(r, headers=list(r["headers"])) for r in self._records
                         if not authenticated or r["authorization"] is not None]
                left = deadline - time.monotonic()
                if len(found) >= count or left <= 0:
                    return found
                self._lock.wait(left)

    def start(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", self._wanted_port))
        listener.listen(1024)  # a burst of posters connects all at once
        # Polled, so stop() needs no tricks to wake accept().
        listener.settimeout(0.1)
        self._listener = listener
        self.port = listener.getsockname()[1]
        self._acceptor = self._spawn(self._accept_loop, "status-service-accept")

    def stop(self):
        self.release()
        with self._lock:
            self._stopping = True
            acceptor = self._acceptor
        # Once the accept loop is gone no connection thread can be added.
        if acceptor is not None and acceptor is not threading.current_thread():
            acceptor.join(1.0)
        self.drop_connections()
        with self._lock:
            threads = list(self._threads)
        deadline = time.monotonic() + 2.0
        for thread in threads:
            if thread is not threading.current_thread():
                thread.join(max(0.0, deadline - time.monotonic()))
        if self._listener is not None:
            self._listener.close()

    def drop_connections(self):
        """Closes every open client connection (hung ones included); the
        service goes on listening."""
        with self._lock:
            socks = list(self._socks)
        for sock in socks:
            # shutdown wakes a thread blocked in recv/send on it; that thread closes it.
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _spawn(self, target, name, *args):
        thread = threading.Thread(target=target, args=args, name=name, daemon=True)
        with self._lock:
            self._threads = [t for t in self._threads if t.is_alive()] + [thread]
        thread.start()
        return thread

    def _accept_loop(self):
        while True:
            try:
                sock, _ = self._listener.accept()
            except socket.timeout:
                if self._stopping:
                    return
                continue
            except OSError:
                return
            with self._lock:
                self._connections += 1
                if self._stopping or self._mode == "refuse":
                    sock.close()
                    continue
                self._socks.add(sock)
            sock.settimeout(None)
            self._spawn(self._serve, "status-service-conn", sock)

    def _record(self, record):
        with self._lock:
            self._records.append(record)
            self._lock.notify_all()

    def _serve(self, sock):
        try:
            reader = _Reader(sock)
            while not self._stopping and self._one_request(sock, reader):
                pass
        finally:
            with self._lock:
                self._socks.discard(sock)
            sock.close()

    def _one_request(self, sock, reader):
        """Reads and answers one request; False when the connection is done."""
        head = reader.head()
        if head is None:
            return False
        arrived = time.monotonic()
        lines = [line.rstrip("\r") for line in head.decode("latin-1").split("\n")]
        parts = lines[0].split(" ")
        method, uri, version = parts if len(parts) == 3 else (lines[0], "", "")
        headers, bad = [], len(parts) != 3
        for line in lines[1:]:
            if line[:1] in (" ", "\t") and headers:
                headers[-1] = (headers[-1][0], headers[-1][1] + " " + line.strip())
                continue
            name, colon, value = line.partition(":")
            bad = bad or not colon
            headers.append((name, value.strip(" \t")))

        lengths = _values(headers, "Content-Length")
        bad = bad or bool(_values(headers, "Transfer-Encoding"))
        bad = bad or len(set(lengths)) > 1 or not all(v.isdigit() for v in lengths)
        length = 0 if bad or not lengths else int(lengths[0])
        if not bad and "100-continue" in [v.lower() for v in _values(headers, "Expect")]:
            self._send(sock, b"HTTP/1.1 100 Continue\r\n\r\n")
        body = reader.body(length)

        authorization = (_values(headers, "Authorization") or [None])[0]
        user, password = _decode_basic(authorization) if authorization else (None, None)
        tokens = {t.strip().lower() for name in ("Connection", "Proxy-Connection")
                  for v in _values(headers, name) for t in v.split(",")}
        keep = "close" not in tokens and (version == "HTTP/1.1" or "keep-alive" in tokens)

        with self._lock:
            mode = self._mode
        if len(body) < length:
            answered, keep = "incomplete", False
        elif mode == "refuse":
            return False
        elif mode == "hang":
            answered = "hang"
        elif bad:
            answered, keep = "400", False
        elif authorization is None or mode == "unauthorized":
            answered = "401"
        elif mode in _BROKEN:
            answered, keep = mode, False
        else:
            answered = {"normal": "200", "status500": "500", "empty": "200 empty", "redirect": "307"}[mode]
        self._record({"method": method, "uri": uri, "version": version, "headers": headers,
                      "body": body, "authorization": authorization, "user": user,
                      "password": password, "time": arrived, "answered": answered})

        if answered == "incomplete":
            return False
        if answered == "hang":
            while reader._more():   # until stop() or the client gives up
                pass
            return False
        proxied = uri.lower().startswith("http://")
        if answered == "400":
            self._respond(sock, "400 Bad Request", "text/plain", b"Bad request.\n", False, proxied)
        elif answered == "401":
            self._respond(sock, "401 Unauthorized", "text/plain", _CHALLENGE, keep, proxied,
                          [("WWW-Authenticate", 'Basic realm="Status Service"')])
        elif answered == "500":
            self._respond(sock, "500 Internal Server Error", "text/plain",
                          b"Something is technically wrong.\n", keep, proxied)
        elif answered == "307":
            self._respond(sock, "307 Temporary Redirect", "text/plain", b"Moved.\n", keep, proxied,
                          [("Location", self.location)])
        elif answered == "200 empty":
            self._respond(sock, "200 OK", "application/json", b"", keep, proxied)
        elif answered == "200":
            form = urllib.parse.parse_qs(body.decode("latin-1"), keep_blank_values=True,
                                         encoding="utf-8", errors="replace")
            with self._lock:
                status_id, self._next_id = self._next_id, self._next_id + 1
            reply = json.dumps({"id": status_id, "text": form.get("status", [""])[0]})
            self._respond(sock, "200 OK", "application/json", reply.encode(), keep, proxied)
        else:
            declared, sent = _BROKEN[answered]
            extra = [] if declared is None else [("Content-Length", declared)]
            self._respond(sock, "200 OK", "application/json", sent, False, proxied, extra, False)
            self._close_gently(sock)
        return keep

    def _respond(self, sock, status, content_type, body, keep, proxied, extra=(), length=True):
        self._answering.wait()
        headers = [("Content-Type", content_type)] + list(extra)
        if length:
            headers.append(("Content-Length", str(len(body))))
        connection = "keep-alive" if keep else "close"
        headers.append(("Connection", connection))
        if proxied:
            headers.append(("Proxy-Connection", connection))
        head = "HTTP/1.1 %s\r\n%s\r\n" % (status, "".join("%s: %s\r\n" % h for h in headers))
        self._send(sock, head.encode("latin-1") + body)

    @staticmethod
    def _send(sock, data):
        try:
            sock.sendall(data)
        except OSError:
            pass

    def _close_gently(self, sock):
        # FIN after the data, then drain: closing with unread input would send a
        # reset, and the client could lose the answer it has not read yet.
        try:
            sock.shutdown(socket.SHUT_WR)
            sock.settimeout(1.0)
            while not self._stopping and sock.recv(65536):
                pass
        except OSError:
            pass


def main(argv=None):
    parser = argparse.ArgumentParser(description="Stand-in status service (HTTP proxy style).")
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args(argv)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    service = StatusService(port=args.port)
    service.start()
    print("listening 127.0.0.1:%d" % service.port, flush=True)
    seen = 0
    try:
        while True:
            records = service.wait_for(seen + 1, 0.5)
            for r in records[seen:]:
                print("%s %s user=%r password=%r body=%r" % (
                    r["method"], r["uri"], r["user"], r["password"], r["body"]), flush=True)
            seen = len(records)
    except (KeyboardInterrupt, SystemExit):
        pass
    finally:
        service.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())

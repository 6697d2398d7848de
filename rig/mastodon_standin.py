"""Stand-in for a Mastodon server's statuses, for the tests: what its API
documentation says of POST /api/v1/statuses and nothing more. It listens on
plain http on loopback; the tests put the rig's nginx with TLS in front.

- The access token comes as "Authorization: Bearer TOKEN". A token not
  known is answered 401 (with the Bearer challenge), a known one without
  the write:statuses scope 403.
- The status comes as a form or JSON field `status`; one that is blank or
  longer than 500 characters is answered 422.
- An Idempotency-Key seen before with the same token is answered with the
  status made then, and no new one is made.
- A made status is answered 200 with a Status entity (id, content, ...).

Every request is recorded, whole, before it is answered. The mode "basic"
answers every request 401 with a Basic challenge instead, as a server that
asks for a password would; "busy" answers 429, as past the rate limit."""

import json
import threading
import urllib.parse

from loopback_http import LoopbackHttp, read_request

LIMIT = 500


class MastodonStandin:
    def __init__(self, tokens):
        """tokens: {token: [scopes]}."""
        self.tokens = dict(tokens)
        self.mode = "normal"
        self.limit = LIMIT  # a server may count links and mentions its own way
        self._lock = threading.Condition()
        self._records = []
        self._statuses = []
        self._keys = {}
        self._http = LoopbackHttp("mastodon-standin", self._serve)
        self.port = self._http.port

    def stop(self):
        self._http.stop()

    def requests(self):
        with self._lock:
            return [dict(r) for r in self._records]

    def statuses(self):
        """The texts of the statuses made, in order."""
        with self._lock:
            return [s["content"] for s in self._statuses]

    def wait_for(self, count, timeout):
        with self._lock:
            self._lock.wait_for(lambda: len(self._records) >= count, timeout)
            return [dict(r) for r in self._records]

    def _serve(self, handler):
        record = read_request(handler)
        body = record["body"]
        with self._lock:
            self._records.append(record)
            self._lock.notify_all()
            code, answer, extra = self._answer(handler, body)
        data = json.dumps(answer).encode()
        handler.send_response(code)
        for name, value in extra + [("Content-Type", "application/json; charset=utf-8"),
                                    ("Content-Length", str(len(data)))]:
            handler.send_header(name, value)
        handler.end_headers()
        handler.wfile.write(data)

    def _answer(self, handler, body):
        """(status, JSON answer, extra headers); the lock is held."""
        if self.mode == "basic":
            return 401, {"error": "Unauthorized"}, [("WWW-Authenticate", 'Basic realm="elsewhere"')]
        if handler.command != "POST" or urllib.parse.urlsplit(handler.path).path != "/api/v1/statuses":
            return 404, {"error": "Record not found"}, []
        scheme, _, token = (handler.headers.get("Authorization") or "").partition(" ")
        if scheme != "Bearer" or token not in self.tokens:
            return 401, {"error": "The access token is invalid"}, [
                ("WWW-Authenticate", 'Bearer realm="Doorkeeper", error="invalid_token", '
                                     'error_description="The access token is invalid"')]
        if "write:statuses" not in self.tokens[token] and "write" not in self.tokens[token]:
            return 403, {"error": "This action is outside the authorized scopes"}, []
        if self.mode == "busy":
            return 429, {"error": "Too many requests"}, [("X-RateLimit-Remaining", "0")]
        key = handler.headers.get("Idempotency-Key")
        if key is not None and (token, key) in self._keys:
            return 200, self._keys[(token, key)], []
        kind = (handler.headers.get("Content-Type") or "").split(";")[0].strip().lower()
        try:
            if kind == "application/json":
                status = json.loads(body.decode("utf-8")).get("status", "")
            else:
                form = urllib.parse.parse_qs(body.decode("ascii"), keep_blank_values=True, encoding="utf-8",
                                             errors="strict")
                status = form.get("status", [""])[0]
        except (UnicodeDecodeError, ValueError, AttributeError):
            return 400, {"error": "Bad request"}, []
        if not str(status).strip():
            return 422, {"error": "Validation failed: Text can't be blank"}, []
        if len(status) > self.limit:
            return 422, {"error": "Validation failed: Text character limit of %d exceeded" % self.limit}, []
        made = {"id": str(103000000000000000 + len(self._statuses)), "content": status, "visibility": "public",
                "created_at": "2026-12-09T00:00:00.000Z", "account": {"acct": "alice"}}
        self._statuses.append(made)
        if key is not None:
            self._keys[(token, key)] = made
        return 200, made, []

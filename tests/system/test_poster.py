"""Status updates through the real WinINet of Wine, against the service
stand-in, which the program reaches as the platform's proxy, and, for a
service address of the settings' own, straight or through squid, over
https to nginx in front of the stand-in."""

import concurrent.futures
import os
import socket
import sys
import threading
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "rig"))
import harness  # noqa: E402
import tls  # noqa: E402
from mastodon_standin import MastodonStandin  # noqa: E402
from status_service import StatusService  # noqa: E402

EXTRA_HEADERS = [
    ("Content-Type", "application/x-www-form-urlencoded"),
    ("X-Twitter-Client", "Moodshuttle"),
    ("X-Twitter-Client-Version", "0.1"),
]


def hexed(data):
    return (data.encode("utf-8") if isinstance(data, str) else data).hex()


class Poster(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = StatusService()
        cls.service.start()
        cls.addClassCleanup(cls.service.stop)
        cls.wine = harness.Wine("poster", display=False, proxy_port=cls.service.port)
        cls.addClassCleanup(cls.wine.close)  # also when the rest of setUpClass fails
        # https: one nginx per certificate, each passing on to the stand-in
        # what its own Basic check lets through; the test root is trusted in
        # this prefix alone. A second stand-in redirects to a third, which
        # must never hear from a poster.
        cls.certs = tls.make_certs(cls.wine.folder("certs"))
        tls.trust_root(cls.wine, cls.certs)
        cls.tls = {}
        for name in tls.SERVERS:
            cls.tls[name] = tls.TlsService(cls.wine.folder("nginx-" + name), cls.certs[name], cls.service.port,
                                           "alice", "s3cret")
            cls.addClassCleanup(cls.tls[name].stop)
        cls.squid = tls.Squid(cls.wine.folder("squid"))
        cls.addClassCleanup(cls.squid.stop)
        cls.elsewhere = StatusService()
        cls.elsewhere.start()
        cls.addClassCleanup(cls.elsewhere.stop)
        cls.redirecting = StatusService("redirect")
        cls.redirecting.location = "http://localhost:%d/statuses/update.json" % cls.elsewhere.port
        cls.redirecting.start()
        cls.addClassCleanup(cls.redirecting.stop)
        # A Mastodon server checks its tokens itself: nginx only speaks TLS for it.
        cls.mastodon = MastodonStandin({"tok-write_1.~+/=": ["write:statuses"], "tok-read": ["read"]})
        cls.addClassCleanup(cls.mastodon.stop)
        cls.mastodon_tls = tls.TlsService(cls.wine.folder("nginx-mastodon"), cls.certs["trusted"], cls.mastodon.port)
        cls.addClassCleanup(cls.mastodon_tls.stop)

    def setUp(self):
        self.service.set_mode("normal")
        self.before = len(self.service.requests())

    def post(self, *texts, **how):
        """Posts the texts (see drive); returns the exit code and the last
        line; self.told gets how each post ended."""
        code, last, self.told = self.drive(*texts, **how)
        return code, last

    def drive(self, *texts, user="alice", password="s3cret", wait_ms=60000, timeout=90, service=None, proxy=True):
        """Posts the texts; to the service address given, if any, and through
        the stand-in as proxy, or no proxy (None), or the one given. Returns
        the exit code, the last line and how each post ended, as the main
        window would be told ("KIND STATUS"), sorted."""
        env = {k: v for k, v in self.wine.env.items() if k != "http_proxy" or proxy is True}
        if proxy not in (True, None):
            env["http_proxy"] = proxy
        args = (["--service", service] if service else []) + [str(wait_ms), hexed(user), hexed(password)]
        result = harness.run_to_end(harness.command(harness.exe("post_driver.exe"), *args,
                                                    *[hexed(t) for t in texts]), env, timeout)
        lines = result.stdout.decode(errors="replace").strip().splitlines()
        told = sorted(line.split(" ", 1)[1] for line in lines if line.startswith("outcome "))
        return result.returncode, lines[-1] if lines else "", told

    def arrived(self, authenticated=True):
        requests = self.service.requests()[self.before:]
        return [r for r in requests if not authenticated or r["authorization"]]

    def assertAllEnded(self, outcome, count):
        self.assertEqual(outcome, (0, "ended %d of %d" % (count, count)))

    def test_request_as_the_service_sees_it(self):
        self.assertAllEnded(self.post("Going home"), 1)
        requests = self.arrived(authenticated=False)
        self.assertTrue(requests)
        for r in requests:
            self.assertEqual(r["method"], "POST")
            # Through a proxy the path goes as an absolute URI; Wine names port 80 in it.
            self.assertRegex(r["uri"], r"^http://twitter\.com(:80)?/statuses/update\.json$")
            headers = r["headers"]
            names = [n.lower() for n, _ in headers]
            self.assertIn(("Accept", "*/*"), headers)
            self.assertIn(("User-Agent", "Moodshuttle"), headers)
            # The four extra lines arrive together and in order.
            start = names.index("content-type")
            self.assertEqual(headers[start:start + 3], EXTRA_HEADERS)
            name, url = headers[start + 3]
            self.assertEqual(name, "X-Twitter-Client-URL")
            self.assertRegex(url, r"^http://[^/\s]+/.*moodshuttle\.xml$")
            self.assertEqual(r["body"], b"status=Going+home ")
            self.assertEqual(len(r["body"]), 18)
            self.assertNotIn(b"alice", r["body"] + r["uri"].encode())
            self.assertNotIn(b"s3cret", r["body"] + r["uri"].encode())
        authenticated = self.arrived()
        self.assertEqual(len(authenticated), 1)
        self.assertEqual((authenticated[0]["user"], authenticated[0]["password"]), ("alice", "s3cret"))

    def test_bodies(self):
        cases = [
            ("", b"status= ", "the empty text still gets its space"),
            ("\u65e5\u672c", b"status=%E6%97%A5%E6%9C%AC ", "UTF-8 bytes as capital-hex groups"),
            ("a b&c~", b"status=a+b%26c%7E ", "space and punctuation"),
            ("x" * 1100, b"status=" + b"x" * 1015 + b" ", "a text too long for the body is cut"),
        ]
        for text, body, proves in cases:
            with self.subTest(proves):
                self.before = len(self.service.requests())
                self.assertAllEnded(self.post(text), 1)
                self.assertEqual([r["body"] for r in self.arrived()], [body])

    def test_credentials_as_stored(self):
        cases = [
            ("bob", "pa:ss word", "a colon and a blank in the password"),
            ("n" * 255, "p" * 255, "the longest values"),
        ]
        for user, password, proves in cases:
            with self.subTest(proves):
                self.before = len(self.service.requests())
                self.assertAllEnded(self.post("hi", user=user, password=password), 1)
                got = [(r["user"], r["password"]) for r in self.arrived()]
                self.assertEqual(got, [(user, password)])

    def test_empty_pair_is_still_sent(self):
        self.assertAllEnded(self.post("hello", user="", password=""), 1)
        requests = self.arrived(authenticated=False)
        self.assertTrue(requests, "the request went out")
        self.assertTrue(all(r["body"] == b"status=hello " for r in requests))
        for r in requests:
            if r["authorization"]:
                self.assertEqual((r["user"], r["password"]), ("", ""))

    def test_a_service_address_of_the_settings_own(self):
        path = "/statuses/update.json"
        # The last column: how each post ended, as the main window is told.
        rows = (
            ("https, the certificate trusted", self.tls["trusted"].url(path), None, "s3cret", self.service, 2,
             "posted 200"),
            ("https, a wrong password: nginx checks it", self.tls["trusted"].url(path), None, "wrong",
             self.service, 0, "account 401"),
            ("https, a root the system does not trust", self.tls["untrusted"].url(path), None, "s3cret",
             self.service, 0, "identity 0"),
            ("https, a certificate for another name", self.tls["wrong-name"].url(path), None, "s3cret",
             self.service, 0, "identity 0"),
            ("https through a real proxy, tunnelled", self.tls["trusted"].url(path), self.squid.proxy(), "s3cret",
             self.service, 2, "posted 200"),
            ("plain http, a port and path of its own", "http://127.0.0.1:%d/own/update.json?via=settings"
             % self.service.port, None, "s3cret", self.service, 2, "posted 200"),
            ("a redirect to another host is not followed", "http://127.0.0.1:%d%s" % (self.redirecting.port, path),
             None, "s3cret", self.redirecting, 2, "other 307"),
        )
        for proves, address, proxy, password, named, arriving, told in rows:
            with self.subTest(proves):
                before = len(named.requests())
                # Each mood tries afresh, whatever became of the one before.
                self.assertAllEnded(self.post("one", "two", password=password, service=address, proxy=proxy), 2)
                self.assertEqual(self.told, [told] * 2)
                got = [r for r in named.requests()[before:] if r["authorization"]]
                self.assertEqual(sorted(r["body"] for r in got), [b"status=one ", b"status=two "][:arriving])
                target = urllib.parse.urlsplit(address)
                for r in got:
                    self.assertEqual((r["user"], r["password"]), ("alice", "s3cret"))
                    self.assertEqual(r["uri"], target.path + ("?" + target.query if target.query else ""))
                    self.assertIn(("Host", target.netloc), r["headers"])
                self.assertEqual(self.elsewhere.requests(), [], "nothing ever reaches another host")
        tunnel = "CONNECT localhost:%d " % self.tls["trusted"].port
        self.assertTrue(harness.wait_until(lambda: any(tunnel in line for line in self.squid.access_log()), 10),
                        self.squid.access_log())

    def test_a_mastodon_server(self):
        address = self.mastodon_tls.url("/api/v1/statuses?via=settings")
        token = "tok-write_1.~+/="
        long_mood = "x" * 600
        # Moods sent; what the server made of them (None: nothing reached it);
        # how each post ended, as the main window is told.
        rows = (
            ("the request as the server parses it, the token's blanks dropped, Wine's display language", " %s \t" % token, "normal",
             ["Going home", "a b&c ~ \u65e5\u672c"], ["Going home", "a b&c ~ \u65e5\u672c"], ["posted 200"] * 2),
            ("a token the server does not know", "tok-unknown", "normal", ["one"], [], ["account 401"]),
            ("a token without the scope to post", "tok-read", "normal", ["one"], [], ["account 403"]),
            ("a token with a line break never goes into a header", token + "\r\nX-Injected: 1", "normal", ["one"],
             None, ["account 0"]),
            ("a long mood is cut to 499 characters and the ellipsis", token, "normal", [long_mood],
             ["x" * 499 + "\u2026"], ["posted 200"]),
            ("bytes that are not UTF-8 become U+FFFD, the rest still posts", token, "normal", [b"caf\xe9 \xe2\x82 ok"],
             ["caf\ufffd \ufffd ok"], ["posted 200"]),
            ("a mood of white space alone posts nothing and tells nothing", token, "normal", ["", " \u3000\u00a0\t"],
             None, []),
            ("a text the server counts as too long", token, "short", ["twelve chars"], [], ["other 422"]),
            ("past the server's rate limit", token, "busy", ["one"], [], ["other 429"]),
            ("a challenge for a password is not answered", token, "basic", ["one", "two"], [], ["account 401"] * 2),
        )
        keys, requests_made = [], 0
        for proves, password, mode, moods, made, told in rows:
            with self.subTest(proves):
                self.mastodon.mode = mode
                self.mastodon.limit = 10 if mode == "short" else 500
                requests, statuses = len(self.mastodon.requests()), len(self.mastodon.statuses())
                self.assertAllEnded(self.post(*moods, user="alice@social.example", password=password,
                                              service=address, proxy=None), len(moods))
                self.assertEqual(self.told, sorted(told))
                got = self.mastodon.requests()[requests:]
                requests_made += len(got)
                self.assertEqual(sorted(self.mastodon.statuses()[statuses:]), sorted(made or []))
                self.assertEqual(len(got), 0 if made is None else len(moods), "one request a mood, no second try")
                for r in got:
                    headers = r["headers"]
                    names = [n.lower() for n, _ in headers]
                    self.assertEqual((r["method"], r["path"]), ("POST", "/api/v1/statuses?via=settings"))
                    self.assertIn(("Authorization", "Bearer " + password.strip(" \t")), headers)
                    self.assertEqual(names.count("authorization"), 1)
                    self.assertIn(("Content-Type", "application/x-www-form-urlencoded"), headers)
                    self.assertIn(("Accept", "*/*"), headers)
                    self.assertIn(("User-Agent", "Moodshuttle"), headers)
                    self.assertEqual([n for n in names if n.startswith("x-")], [])
                    keys += [v for n, v in headers if n.lower() == "idempotency-key"]
                    self.assertEqual(names.count("idempotency-key"), 1)
                    self.assertNotIn(b"alice", r["body"])
                if proves.startswith("the request"):
                    self.assertEqual(sorted(r["body"] for r in got),
                                     [b"status=Going+home&language=en",
                                      b"status=a+b%26c+%7E+%E6%97%A5%E6%9C%AC&language=en"])
        self.assertEqual(len(set(keys)), len(keys), "a key of its own for every request, across runs: %s" % keys)
        self.assertEqual(len(keys), requests_made)

    def test_two_posters_together_both_arrive(self):
        self.assertAllEnded(self.post("first", "second"), 2)
        self.assertEqual(sorted(r["body"] for r in self.arrived()), [b"status=first ", b"status=second "])

    def test_misbehaving_service(self):
        modes = ["status500", "empty", "no-length", "length-negative", "length-nonnumeric", "length-huge",
                 "length-overlong", "length-large", "close-mid-body", "refuse"]
        for mode in modes:
            with self.subTest(mode):
                self.service.set_mode(mode)
                self.before = len(self.service.requests())
                self.assertAllEnded(self.post("odd %s" % mode, "again"), 2)
                told = {"status500": "other 500", "refuse": "unreached 0"}.get(mode, "posted 200")
                self.assertEqual(self.told, [told] * 2, "a 2xx answer is posted, whatever its body")
                if mode != "refuse":
                    self.assertEqual(len(self.arrived()), 2)

    def test_a_server_that_never_answers_frees_the_poster(self):
        # Each takes the connection and never answers: the stand-in as proxy
        # (the usual service), nginx in front of a silent stand-in (Mastodon
        # once TLS is through), and a listener that never speaks (a TLS
        # handshake that stalls). All run at once; each poster ends after
        # its timeout (30 s) and a little, as not reached. Wine's WinINet
        # times out no TLS handshake: that poster ends only once the
        # listener drops the connection and goes, 45 s on.
        self.service.set_mode("hang")
        silent = StatusService("hang")
        silent.start()
        self.addCleanup(silent.stop)
        nginx = tls.TlsService(self.wine.folder("nginx-silent"), self.certs["trusted"], silent.port)
        self.addCleanup(nginx.stop)
        stalled, held = socket.socket(), []
        stalled.bind(("127.0.0.1", 0))
        stalled.listen(8)
        self.addCleanup(stalled.close)
        threading.Thread(target=lambda: held.append(stalled.accept()[0]), daemon=True).start()
        # WinINet connects once more when the connection drops: so the
        # listener goes first.
        mastodon = "/api/v1/statuses"
        rows = (("the usual service, silent", None, True, (29, 40)),
                ("Mastodon, silent after TLS", nginx.url(mastodon), None, (29, 40)),
                ("Mastodon, the TLS handshake stalls", "https://localhost:%d%s" % (stalled.getsockname()[1], mastodon),
                 None, (45, 50)))
        started = time.monotonic()

        def run(service, proxy):
            return self.drive("waiting", service=service, proxy=proxy), time.monotonic() - started
        with concurrent.futures.ThreadPoolExecutor(len(rows)) as pool:
            runs = [pool.submit(run, service, proxy) for _, service, proxy, _ in rows]
            time.sleep(45)
            self.assertFalse(runs[2].done(), "the stalled handshake still holds its poster")
            stalled.close()
            for sock in held:
                sock.close()
            for (name, _, _, (least, most)), done in zip(rows, runs):
                with self.subTest(name):
                    ended, took = done.result()
                    self.assertEqual(ended, (0, "ended 1 of 1", ["unreached 0"]))
                    self.assertTrue(least < took < most, "ended after %.1f s" % took)
        self.assertEqual(len(self.service.requests()) - self.before, 1, "the usual request came once")
        self.assertEqual(len(silent.requests()), 1, "the Mastodon request came once")

if __name__ == "__main__":
    unittest.main()

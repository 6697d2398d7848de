"""Moods posted to the reference AT Protocol server: the real program under
Wine with the chat client stand-in and the taskbar stand-in beside it, and
the server behind the rig's nginx with TLS. The rig's relay sits between
nginx and the server and records every request as nginx passed it on."""

import datetime
import json
import re
import unittest

from linkcase import MOOD_PREFIX, LinkCase

import harness
import tls
from pds import ACCESS_LIFETIME, Pds

CREATE_SESSION = "/xrpc/com.atproto.server.createSession"
REFRESH_SESSION = "/xrpc/com.atproto.server.refreshSession"
CREATE_RECORD = "/xrpc/com.atproto.repo.createRecord"
WM_COMMAND, IDM_SETTING, IDOK, IDC_PASSWORD = "0x111", "1004", "1", "4001"
CREATED_AT = r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$"


def header(request, name):
    values = [v for n, v in request["headers"] if n.lower() == name.lower()]
    return values[0] if len(values) == 1 else values or None


class Bluesky(LinkCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.certs = tls.make_certs(cls.wine.folder("certs"))
        tls.trust_root(cls.wine, cls.certs)
        cls.pds = Pds(cls.wine.folder("pds"), cls.certs, relay=True)
        cls.addClassCleanup(cls.pds.stop)
        cls.relay = cls.pds.relay
        cls.account = cls.pds.create_account("alice.test", "the-main-password")
        cls.app_password = cls.pds.create_app_password(cls.account, "Moodshuttle")
        cls.installed = 0

    def setUp(self):
        super().setUp()
        self.relay.mode = "pass"
        self.requests_before = len(self.relay.requests())
        self.records_before = len(self.pds.posts(self.account["did"]))

    def start_linked(self, password=None, handle="alice.test", address=None):
        """The program posting to the server (or the address given), linked
        to the client stand-in, its icon taken by the taskbar stand-in;
        returns (client, taskbar, program)."""
        Bluesky.installed += 1
        settings = harness.settings_text(handle, password or self.app_password)
        path = harness.install_program(self.wine.folder("app-%d" % self.installed), settings + "service=%s\r\n" % (
            address or self.pds.url(CREATE_RECORD)))
        taskbar = self.wine.start(harness.exe("taskbar_standin.exe"))
        self.started.append(taskbar)
        taskbar.expect(r"^ready ")
        client = self.start_client("--attach", "0")
        program = self.wine.start(path, proxy=False)
        self.started.append(program)
        self.attach(client)
        taskbar.expect(r"^request \d+ add \w+ 1001 added$")
        return client, taskbar, program

    def mood(self, client, text):
        self.send(client, "self", MOOD_PREFIX + (text if isinstance(text, bytes) else text.encode()) + b"\0")

    def made(self, path=None):
        """The requests the relay passed on since the case began (to one path)."""
        return [r for r in self.relay.requests()[self.requests_before:]
                if path is None or r["path"].split("?")[0] == path]

    def wait_answered(self, path, count, timeout=30):
        harness.wait_until(lambda: len([r for r in self.made(path) if "status" in r]) >= count, timeout)
        self.settle()
        return self.made(path)

    def new_records(self):
        return self.pds.posts(self.account["did"])[self.records_before:]

    def balloons(self, taskbar):
        return [bytes.fromhex(line.split(" ")[-1]).decode() for line in list(taskbar.stdout)
                if line.startswith("balloon ")]

    def test_moods_become_posts_with_their_exact_text(self):
        rows = (
            ("the plain text", ["Going home"], ["Going home"]),
            ("text outside ASCII, quotation marks, a backslash and a tab", ['She said "hi" \\ \u65e5\u672c caf\u00e9'
                                                                             '\t\U0001F642'],
             ['She said "hi" \\ \u65e5\u672c caf\u00e9\t\U0001F642']),
            ("bytes that are not UTF-8 become U+FFFD", [b"caf\xe9 \xe2\x82 ok"], ["caf\ufffd \ufffd ok"]),
            ("a long mood is cut to 299 characters and the ellipsis", ["x" * 400], ["x" * 299 + "\u2026"]),
            ("a cut never parts a letter from its accent", ["e" * 298 + "\u0301" * 5], ["e" * 297 + "\u2026"]),
            ("a mood cleared, or white space alone, posts nothing", ["", " \u3000\t"], []),
        )
        for proves, moods, texts in rows:
            self.stop_started()
            with self.subTest(proves):
                self.requests_before = len(self.relay.requests())
                self.records_before = len(self.pds.posts(self.account["did"]))
                client, taskbar, _ = self.start_linked()
                began = datetime.datetime.now(datetime.timezone.utc)
                for mood in moods:
                    self.mood(client, mood)
                if texts:
                    self.wait_answered(CREATE_RECORD, len(texts))
                else:
                    self.settle(4)
                records = self.new_records()
                self.assertEqual([r["text"] for r in records], texts)
                self.assertEqual(len(self.made(CREATE_SESSION)), 1 if texts else 0, "a session only when needed")
                self.assertEqual(len(self.made(CREATE_RECORD)), len(texts), "one request a mood")
                self.assertEqual(self.balloons(taskbar), [])
                for record in records:
                    self.assertEqual(record["$type"], "app.bsky.feed.post")
                    self.assertRegex(record["createdAt"], CREATED_AT)
                    made = datetime.datetime.strptime(record["createdAt"], "%Y-%m-%dT%H:%M:%S.%fZ").replace(
                        tzinfo=datetime.timezone.utc)
                    self.assertLess(abs((made - began).total_seconds()), 60, "the time is now, in UTC")

    def test_the_requests_as_the_server_gets_them(self):
        client, _, _ = self.start_linked()
        self.mood(client, "Going home")
        self.wait_answered(CREATE_RECORD, 1)
        sessions, records = self.made(CREATE_SESSION), self.made(CREATE_RECORD)
        self.assertEqual(len(sessions), 1)
        self.assertEqual(len(records), 1)
        for r in sessions + records:
            self.assertEqual(r["method"], "POST")
            self.assertEqual(header(r, "User-Agent"), "Moodshuttle")
            self.assertEqual(header(r, "Content-Type"), "application/json")
            self.assertEqual([n for n, _ in r["headers"] if n.lower().startswith("x-twitter")], [])
        session = sessions[0]
        self.assertIsNone(header(session, "Authorization"), "no credentials but those in the body")
        self.assertEqual(json.loads(session["body"]), {"identifier": "alice.test", "password": self.app_password})
        answer = json.loads(session["answer"])
        record = records[0]
        self.assertEqual(header(record, "Authorization"), "Bearer " + answer["accessJwt"])
        body = json.loads(record["body"])
        self.assertEqual(set(body), {"repo", "collection", "record"})
        self.assertEqual((body["repo"], body["collection"]), (self.account["did"], "app.bsky.feed.post"))
        self.assertEqual(set(body["record"]), {"$type", "text", "createdAt"})
        self.assertEqual(body["record"]["text"], "Going home")
        self.assertNotIn(self.app_password.encode(), record["body"])

    def test_the_session_is_made_once_and_shared(self):
        # Steps: moods sent together; then how many sessions and renewals
        # the server has seen in all, and how many records it holds.
        client, taskbar, _ = self.start_linked()
        steps = (
            ("a burst from a cold start asks for one session", ["m%d" % i for i in range(6)], 1, 0, 6),
            ("later moods keep it", ["later"], 1, 0, 7),
            ("an expired token is renewed once for all who met it", ["after", "expiry", "too"], 1, 1, 10),
        )
        for proves, moods, sessions, renewals, records in steps:
            with self.subTest(proves):
                if renewals:
                    self.pds.jump_clock(ACCESS_LIFETIME + 60)
                for mood in moods:
                    self.mood(client, mood)
                self.assertTrue(harness.wait_until(lambda: len(self.new_records()) >= records, 30))
                self.settle()
                self.assertEqual(len(self.made(CREATE_SESSION)), sessions)
                self.assertEqual(len(self.made(REFRESH_SESSION)), renewals)
                self.assertEqual(sorted(r["text"] for r in self.new_records()[-len(moods):]), sorted(moods))
                self.assertEqual(len(self.new_records()), records)
        # Those posted after the renewal never met the old token; each that
        # did was sent once more, with the renewed token and the same time.
        posts = self.made(CREATE_RECORD)
        refused = [r for r in posts if r["status"] == 400]
        self.assertTrue(1 <= len(refused) <= 3, refused)
        self.assertEqual(len(posts), 10 + len(refused), "one repeat for each post the token failed, no more")
        self.assertTrue(all(json.loads(r["answer"])["error"] == "ExpiredToken" for r in refused))
        renewal = self.made(REFRESH_SESSION)[0]
        first = json.loads(self.made(CREATE_SESSION)[0]["answer"])
        self.assertEqual(header(renewal, "Authorization"), "Bearer " + first["refreshJwt"])
        self.assertIsNone(header(renewal, "Content-Type"))
        self.assertEqual(renewal["body"], b"")
        renewed = json.loads(renewal["answer"])["accessJwt"]
        resent = [r for r in posts[7:] if header(r, "Authorization") == "Bearer " + renewed]
        self.assertEqual(len(resent), 3)
        self.assertTrue({json.loads(r["body"])["record"]["createdAt"] for r in refused} <=
                        {json.loads(r["body"])["record"]["createdAt"] for r in resent})
        self.assertEqual(self.balloons(taskbar), [])

    def test_a_refused_pair_is_told_once_and_not_tried_again_until_ok(self):
        rows = (
            ("a wrong app password", "pass", "wrong-wrong-wrong-wrong", "localhost refused the handle or app password"),
            ("the account's main password where an app password is wanted", "factor", "the-main-password",
             "localhost wants an app password, not the account's own password"),
        )
        for proves, mode, password, words in rows:
            self.stop_started()
            with self.subTest(proves):
                self.relay.mode = mode
                self.requests_before = len(self.relay.requests())
                self.records_before = len(self.pds.posts(self.account["did"]))
                client, taskbar, _ = self.start_linked(password)
                self.mood(client, "first")
                self.wait_answered(CREATE_SESSION, 1)
                for mood in ("second", "third"):
                    self.mood(client, mood)
                self.settle(3)
                self.assertEqual(len(self.made(CREATE_SESSION)), 1, "no second sign-in")
                self.assertEqual(self.made(CREATE_RECORD), [])
                balloons = self.balloons(taskbar)
                self.assertEqual(len(balloons), 1, balloons)
                self.assertTrue(balloons[0].startswith(words), balloons[0])
                self.assertIn("Setting in this icon's menu", balloons[0])
                # OK in the dialog with the app password: the next mood signs in again.
                self.relay.mode = "pass"
                main = self.wine.find("Moodshuttle", "Moodshuttle")
                self.assertEqual(self.wine.probe("post", main, WM_COMMAND, IDM_SETTING, "0")[0], 0)
                dialog = self.wine.visible("#32770", "Option")
                self.assertIsNotNone(dialog)
                self.assertEqual(self.wine.probe("settext", dialog, IDC_PASSWORD, self.app_password)[0], 0)
                self.assertEqual(self.wine.probe("click", dialog, IDOK)[0], 0)
                self.mood(client, "fourth")
                self.wait_answered(CREATE_RECORD, 1)
                self.assertEqual(len(self.made(CREATE_SESSION)), 2)
                self.assertEqual([r["text"] for r in self.new_records()], ["fourth"])

    def test_an_answer_without_a_length_is_read_to_its_end(self):
        self.relay.mode = "unsized"
        client, taskbar, _ = self.start_linked()
        self.mood(client, "chunked")
        self.wait_answered(CREATE_RECORD, 1)
        self.assertEqual([r["text"] for r in self.new_records()], ["chunked"])
        self.assertEqual(self.balloons(taskbar), [])


if __name__ == "__main__":
    unittest.main()

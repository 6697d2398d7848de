"""Moods posted to the reference AT Protocol server: the real program under
Wine with the chat client stand-in and the taskbar stand-in beside it, and
the server behind the rig's nginx with TLS. The rig's relay sits between
nginx and the server and records every request as nginx passed it on."""

import datetime
import json
import os
import subprocess
import time
import unittest

from linkcase import MOOD_PREFIX, LinkCase

import harness
import tls
from mastodon_standin import MastodonStandin
from pds import ACCESS_LIFETIME, Pds

CREATE_SESSION = "/xrpc/com.atproto.server.createSession"
REFRESH_SESSION = "/xrpc/com.atproto.server.refreshSession"
CREATE_RECORD = "/xrpc/com.atproto.repo.createRecord"
RESOLVE_HANDLE = "/xrpc/com.atproto.identity.resolveHandle"
WM_COMMAND, IDM_SETTING, IDOK, IDC_PASSWORD = "0x111", "1004", "1", "4001"
CREATED_AT = r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$"


# Bluesky's own client library, from the rig's install of the reference
# server: the facets it finds in each text, its mentions' DIDs still the
# handles.
LIBRARY_FACETS = """
const { RichText } = require(require.resolve('@atproto/api', { paths: [process.argv[1]] }))
const texts = JSON.parse(require('fs').readFileSync(0, 'utf8'))
console.log(JSON.stringify(texts.map((text) => {
  const rt = new RichText({ text })
  rt.detectFacetsWithoutResolution()
  return (rt.facets || []).map((f) => ({ index: f.index, features: f.features }))
})))
"""


def library_facets(texts):
    out = subprocess.run(["/usr/bin/node", "-e", LIBRARY_FACETS, os.path.join(harness.ROOT, "rig", "pds")],
                         input=json.dumps(texts).encode(), capture_output=True, check=True, timeout=60)
    return json.loads(out.stdout)


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
        cls.bob = cls.pds.create_account("bob.test", "bobs-main-password")
        cls.installed = 0
        # A Mastodon server beside it, for files of several accounts.
        cls.mastodon = MastodonStandin({"tok-write": ["write:statuses"]})
        cls.addClassCleanup(cls.mastodon.stop)
        cls.mastodon_tls = tls.TlsService(cls.wine.folder("nginx-mastodon"), cls.certs["trusted"], cls.mastodon.port)
        cls.addClassCleanup(cls.mastodon_tls.stop)

    def start_linked(self, password=None, mode="pass", env=None, first=None, further=""):
        """Stops what the row before started; starts the program posting to
        the server, linked to the client stand-in, its icon taken by the
        taskbar stand-in; env adds to the program's environment; first
        replaces the settings' own section, further sections follow it.
        Returns (client, taskbar)."""
        self.stop_started()
        self.relay.mode = mode
        self.requests_before = len(self.relay.requests())
        self.records_before = len(self.pds.posts(self.account["did"]))
        Bluesky.installed += 1
        path = harness.install_program(self.wine.folder("app-%d" % self.installed), (first or self.section(
            "Moodshuttle", "alice.test", password or self.app_password, self.pds.url(CREATE_RECORD))) + further)
        taskbar = self.wine.start(harness.exe("taskbar_standin.exe"))
        self.started.append(taskbar)
        taskbar.expect(r"^ready ")
        client = self.start_client("--attach", "0")
        self.started.append(self.wine.start(path, proxy=False, env=env))
        self.attach(client)
        taskbar.expect(r"^request \d+ add \w+ 1001 added$")
        return client, taskbar

    @staticmethod
    def section(name, username, password, service):
        return "[%s]\r\nservice=%s\r\nusername=%s\r\npassword=%s\r\n" % (name, service, username, password)

    def mood(self, client, text):
        self.send(client, "self", MOOD_PREFIX + (text if isinstance(text, bytes) else text.encode()) + b"\0")

    def made(self, path):
        """The requests to path the relay passed on since the row began."""
        return self.relay.requests(path, since=self.requests_before)

    def wait_answered(self, path, count):
        self.relay.wait_for(path, count, 30, since=self.requests_before)
        self.settle()

    def new_records(self):
        return self.pds.posts(self.account["did"])[self.records_before:]

    def balloons(self, taskbar):
        return [bytes.fromhex(line.split(" ")[-1]).decode() for line in list(taskbar.stdout)
                if line.startswith("balloon ")]

    def test_moods_become_posts_with_their_exact_text(self):
        # The relay's mode; moods sent; the texts the server then holds.
        rows = (
            ("the plain text", "pass", ["Going home"], ["Going home"]),
            ("text outside ASCII, quotation marks, a backslash and a tab", "pass",
             ['She said "hi" \\ \u65e5\u672c caf\u00e9\t\U0001F642'],
             ['She said "hi" \\ \u65e5\u672c caf\u00e9\t\U0001F642']),
            ("bytes that are not UTF-8 become U+FFFD", "pass", [b"caf\xe9 \xe2\x82 ok"], ["caf\ufffd \ufffd ok"]),
            ("a long mood is cut to 299 characters and the ellipsis", "pass", ["x" * 400], ["x" * 299 + "\u2026"]),
            ("a cut never parts a letter from its accent", "pass", ["e" * 298 + "\u0301" * 5], ["e" * 297 + "\u2026"]),
            ("a mood cleared, or white space alone, posts nothing", "pass", ["", " \u3000\t"], []),
            ("answers with no Content-Length are read to their end", "unsized", ["chunked"], ["chunked"]),
        )
        for proves, mode, moods, texts in rows:
            with self.subTest(proves):
                client, taskbar = self.start_linked(mode=mode)
                began = datetime.datetime.now(datetime.timezone.utc)
                for mood in moods:
                    self.mood(client, mood)
                if texts:
                    self.wait_answered(CREATE_RECORD, len(texts))
                else:
                    self.settle(4)
                records = self.new_records()
                self.assertEqual([r["text"] for r in records], texts)
                sessions, posts = self.made(CREATE_SESSION), self.made(CREATE_RECORD)
                self.assertEqual(len(sessions), 1 if texts else 0, "a session only when needed")
                self.assertEqual(len(posts), len(texts), "one request a mood")
                self.assertEqual(self.balloons(taskbar), [])
                for r in sessions + posts:
                    self.assertEqual(r["method"], "POST")
                    self.assertEqual(header(r, "User-Agent"), "Moodshuttle")
                    self.assertEqual(header(r, "Content-Type"), "application/json")
                    self.assertEqual([n for n, _ in r["headers"] if n.lower().startswith("x-twitter")], [])
                for session in sessions:
                    self.assertIsNone(header(session, "Authorization"), "no credentials but those in the body")
                    self.assertEqual(json.loads(session["body"]),
                                     {"identifier": "alice.test", "password": self.app_password})
                for post, record in zip(posts, records):
                    self.assertEqual(header(post, "Authorization"),
                                     "Bearer " + json.loads(sessions[0]["answer"])["accessJwt"])
                    body = json.loads(post["body"])
                    self.assertEqual(set(body), {"repo", "collection", "record"})
                    self.assertEqual((body["repo"], body["collection"]), (self.account["did"], "app.bsky.feed.post"))
                    self.assertEqual(body["record"], record, "the record as sent")
                    self.assertEqual(record["langs"], ["en"], "Wine's display language")
                    self.assertNotIn(self.app_password.encode(), post["body"])
                    self.assertEqual(record["$type"], "app.bsky.feed.post")
                    self.assertRegex(record["createdAt"], CREATED_AT)
                    made = datetime.datetime.strptime(record["createdAt"], "%Y-%m-%dT%H:%M:%S.%fZ")
                    self.assertLess(abs((made.replace(tzinfo=datetime.timezone.utc) - began).total_seconds()), 60,
                                    "the time is now, in UTC")

    def test_each_mood_goes_to_every_account_of_the_file(self):
        statuses = self.pds.url(CREATE_RECORD)
        mastodon = self.mastodon_tls.url("/api/v1/statuses")
        # Sections past 9, or of other names, are not read, whatever they hold.
        unread = self.section("Moodshuttle 10", "x", "y", "ftp://nowhere") + self.section("Moodshuttle2", "", "", "x")
        bob_refused = self.section("Moodshuttle 2", "bob.test", "not-bobs-password", statuses)
        def carol_refused(number):
            return self.section("Moodshuttle %d" % number, "carol@social.example", "tok-unknown", mastodon)
        # The settings' own section (None: alice on the reference server),
        # the further ones; per mood, the texts the Mastodon server made and
        # the requests it had, the records of alice, bob's sessions asked;
        # the balloons' starts and sections, one each, in either order.
        rows = (
            ("a Mastodon account first, a Bluesky one in section 2: each has the mood, as its way sends it",
             self.section("Moodshuttle", "alice@social.example", "tok-write", mastodon),
             self.section("Moodshuttle 2", "alice.test", self.app_password, statuses) + unread,
             (1, 1, 1, 0), []),
            ("a Mastodon account refused, the Bluesky one posts: one balloon, naming the refused one",
             None, carol_refused(3), (0, 1, 1, 0),
             [("carol@social.example at localhost refused the access token", "Moodshuttle 3")]),
            ("a Bluesky account refused on the server where another posts; two at once are told in turn",
             None, bob_refused + carol_refused(9), (0, 1, 1, 1),
             [("bob.test at localhost refused the handle or app password", "Moodshuttle 2"),
              ("carol@social.example at localhost refused the access token", "Moodshuttle 9")]),
        )
        for proves, first, further, (made, requests, records, bob_sessions), told in rows:
            with self.subTest(proves):
                client, taskbar = self.start_linked(first=first, further=further)
                before = (len(self.mastodon.statuses()), len(self.mastodon.requests()))
                for n in (1, 2):
                    self.mood(client, "Going home %d" % n)
                    self.wait_answered(CREATE_RECORD, n * records)
                    self.mastodon.wait_for(before[1] + n * requests, 30)
                    self.settle()
                    self.assertEqual([r["text"] for r in self.new_records()],
                                     ["Going home %d" % i for i in range(1, n + 1)][:n * records])
                    self.assertEqual(self.mastodon.statuses()[before[0]:],
                                     ["Going home %d" % i for i in range(1, n + 1)][:n * made])
                    got = self.mastodon.requests()[before[1]:]
                    self.assertEqual(len(got), n * requests, "once a mood, no second try")
                    sessions = [json.loads(r["body"])["identifier"] for r in self.made(CREATE_SESSION)]
                    self.assertEqual(sorted(sessions), ["alice.test"] + ["bob.test"] * bob_sessions,
                                     "one session for alice, bob refused once and not asked again")
                for r in got:
                    self.assertEqual(r["body"], b"status=Going+home+%d&language=en" % (got.index(r) + 1))
                    self.assertEqual(header(r, "Authorization"), "Bearer " + ("tok-write" if made else "tok-unknown"))
                if told:
                    self.settle(10)  # the second balloon comes once the first has had its time
                lines = [line.split(" ") for line in taskbar.stdout if line.startswith("balloon ")]
                shown = self.balloons(taskbar)
                self.assertEqual(len(shown), len(told), shown)
                # The accounts' posters run at once: the balloons come in the order they end.
                for starts, section in told:
                    self.assertEqual(len([text for text in shown if text.startswith(starts) and
                                          "in the [%s] section of the settings file, read again at the next start."
                                          % section in text]), 1, shown)
                if len(lines) == 2:
                    self.assertGreaterEqual(int(lines[1][1]) - int(lines[0][1]), 9000, "in turn, not over each other")

    def test_links_mentions_and_tags_become_facets(self):
        bob = self.bob["did"]
        garbled = {"garbage.test": (200, b"not json at all", 0), "notadid.test": (200, b'{"did":"bob.test"}', 0),
                   "failing.test": (500, b'{"error":"InternalServerError"}', 0),
                   "slow.test": (200, json.dumps({"did": bob}).encode(), 13)}
        many = "@bob.test @BOB.test " + " ".join("@c%d.test" % i for i in range(1, 9))
        # The mood; the handles asked about; what the mentions resolve to (the
        # rest stay plain); whether the post waits for the deadline.
        rows = (
            ("the issue's mood: a tag, a link and a mention of an account there",
             "Reading #atproto docs at https://atproto.com with @bob.test", ["bob.test"], {"bob.test": bob}, False),
            ("a handle that resolves nowhere stays plain; cashtags, a bare domain, emoji and a mark before them",
             "😀 é hi @nobody.test and @bob.test, $aapl (atproto.com)", ["nobody.test", "bob.test"],
             {"bob.test": bob}, False),
            ("an error, garbage, a DID that is not one and an answer too late leave those plain, the post goes once",
             "@garbage.test @notadid.test @failing.test @slow.test @bob.test",
             ["garbage.test", "notadid.test", "failing.test", "slow.test", "bob.test"], {"bob.test": bob}, True),
            ("8 distinct handles at most, a handle in other capitals asked about once",
             many, ["bob.test"] + ["c%d.test" % i for i in range(1, 8)], {"bob.test": bob, "BOB.test": bob}, False),
            ("a link the cut reached stays plain, a tag before it is kept",
             "x" * 270 + " #atproto https://atproto.com/specs/lexicon#type-definitions", [], {}, False),
        )
        self.relay.handle_answers = garbled
        self.addCleanup(setattr, self.relay, "handle_answers", {})
        client, taskbar = self.start_linked()
        # The records as read back, kept in the build folder to be looked at.
        kept = []

        def keep():
            with open(os.path.join(harness.BUILD, "bluesky_facets.json"), "w", encoding="utf-8") as f:
                json.dump(kept, f, indent=1, ensure_ascii=False)
        self.addCleanup(keep)
        for proves, mood, asked, dids, waits in rows:
            with self.subTest(proves):
                before = len(self.relay.requests())
                records_before = len(self.pds.posts(self.account["did"]))
                sent = time.monotonic()
                self.mood(client, mood)
                self.relay.wait_for(CREATE_RECORD, 1, 40, since=before)
                posts = self.relay.requests(CREATE_RECORD, since=before)
                self.assertEqual(len(posts), 1)
                took = posts[0]["answered"] - sent
                if waits:
                    self.assertTrue(9 <= took < 12.5, "the deadline of 10 s, not the late answer's 13: %.1f" % took)
                records = self.pds.posts(self.account["did"])[records_before:]
                self.assertEqual(len(records), 1)
                record = records[0]
                kept.append(record)
                lookups = self.relay.requests(RESOLVE_HANDLE, since=before)
                self.assertEqual(sorted(r["path"].split("handle=")[1] for r in lookups), sorted(asked))
                for r in lookups:
                    self.assertEqual((r["method"], header(r, "Authorization"), r["body"]), ("GET", None, b""))
                # The library's facets for the text as posted, each mention
                # with the DID its handle resolved to or left out, and none
                # that reaches the cut's ellipsis.
                expected = []
                for facet in library_facets([record["text"]])[0]:
                    feature = facet["features"][0]
                    if feature["$type"].endswith("#mention"):
                        if feature["did"] not in dids:
                            continue
                        feature["did"] = dids[feature["did"]]
                    if record["text"].endswith("…") and \
                            facet["index"]["byteEnd"] >= len(record["text"].encode()) - 3:
                        continue
                    expected.append(facet)
                self.assertTrue(expected)
                self.assertEqual(record.get("facets"), expected)
                self.assertEqual(record["langs"], ["en"])
        self.assertEqual(self.balloons(taskbar), [])

    def test_posts_are_marked_with_the_display_language(self):
        # Wine takes the display language from the locale of LC_MESSAGES,
        # which must be there: the ones beyond C are compiled from Debian's
        # locale sources into a folder of the test's own.
        locales = self.wine.folder("locales")
        rows = (("Wine's English of the C locale", "C.UTF-8", ["en"]),
                ("German", "de_DE.UTF-8", ["de"]),
                ("Japanese", "ja_JP.UTF-8", ["ja"]))
        for proves, lang, langs in rows:
            with self.subTest(proves):
                name = lang.split(".")[0]
                if not lang.startswith("C."):
                    subprocess.run(["/usr/bin/localedef", "-i", name, "-f", "UTF-8", os.path.join(locales, lang)],
                                   check=True, capture_output=True, timeout=120)
                client, _ = self.start_linked(env={"LANG": lang, "LC_ALL": lang, "LOCPATH": locales})
                self.mood(client, "Guten Tag")
                self.wait_answered(CREATE_RECORD, 1)
                self.assertEqual([r.get("langs") for r in self.new_records()], [langs])

    def test_the_session_is_made_once_and_shared(self):
        # Steps: moods sent together; then how many sessions and renewals
        # the server has seen in all, and how many records it holds.
        client, taskbar = self.start_linked()
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
        self.assertEqual((header(renewal, "Authorization"), header(renewal, "Content-Type"), renewal["body"]),
                         ("Bearer " + first["refreshJwt"], None, b""))
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
            with self.subTest(proves):
                client, taskbar = self.start_linked(password, mode)
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

    def open_setting_and_ok(self, password):
        """Gives the Option dialog the password and presses OK."""
        main = self.wine.find("Moodshuttle", "Moodshuttle")
        self.assertEqual(self.wine.probe("post", main, WM_COMMAND, IDM_SETTING, "0")[0], 0)
        dialog = self.wine.visible("#32770", "Option")
        self.assertIsNotNone(dialog)
        self.assertEqual(self.wine.probe("settext", dialog, IDC_PASSWORD, password)[0], 0)
        self.assertEqual(self.wine.probe("click", dialog, IDOK)[0], 0)
        self.assertTrue(harness.wait_until(lambda: self.wine.find("#32770", "Option", 0) is None, 10))

    def test_a_sign_in_with_the_old_pair_is_not_the_new_pairs_answer(self):
        # A sign-in with a wrong password is held on the network while OK
        # stores the right one and a mood comes; the server then refuses the
        # old pair.
        client, taskbar = self.start_linked("wrong-wrong-wrong-wrong", "hold-session")
        self.mood(client, "before OK")
        self.relay.wait_for(CREATE_SESSION, 1, 30, since=self.requests_before, answered=False)
        self.open_setting_and_ok(self.app_password)
        self.mood(client, "after OK")
        self.settle()
        self.relay.mode = "pass"
        self.relay.release()
        self.wait_answered(CREATE_RECORD, 1)
        signed_in = [json.loads(r["body"])["password"] for r in self.made(CREATE_SESSION)]
        self.assertEqual(signed_in, ["wrong-wrong-wrong-wrong", self.app_password], "the mood after OK asked anew")
        self.assertEqual([r["text"] for r in self.new_records()], ["after OK"])
        balloons = self.balloons(taskbar)
        self.assertTrue(all(b.startswith("localhost refused") for b in balloons) and len(balloons) <= 1, balloons)

    def test_a_server_that_never_answers_frees_the_poster(self):
        # The relay's mode; the requests it holds silent; what reaches the
        # server. Two moods: the second waits for the first's sign-in.
        rows = (("the sign-in", "silent-session", CREATE_SESSION),
                ("the record", "silent-record", CREATE_RECORD))
        for proves, mode, silent in rows:
            with self.subTest(proves):
                client, taskbar = self.start_linked(mode=mode)
                taskbar.drain()
                sent = time.monotonic()
                self.mood(client, "one")
                self.mood(client, "two")
                when, m = taskbar.expect(r"^balloon ", timeout=60)
                text = bytes.fromhex(m.string.split(" ")[-1]).decode()
                self.assertTrue(text.startswith("Moodshuttle could not reach localhost"), text)
                self.assertTrue(29 < when - sent < 40, "told after %.1f s" % (when - sent))
                self.settle(3)
                self.assertEqual(len(self.balloons(taskbar)), 1)
                self.assertEqual(len(self.made(CREATE_SESSION)), 1, "one sign-in, shared")
                self.assertEqual(len(self.made(silent)), 1 if silent == CREATE_SESSION else 2)
                self.assertEqual(self.new_records(), [])
                self.relay.release()


if __name__ == "__main__":
    unittest.main()

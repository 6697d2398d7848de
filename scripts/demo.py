"""Runs Moodshuttle for real under Wine: a desktop with a taskbar, the chat
client stand-in telling it of mood changes, and the status service stand-in
(reached as the HTTP proxy) printing every update it receives. With
"bluesky" first, the moods go to the reference AT Protocol server instead,
behind nginx with TLS, and each post is printed as read back from the
account's repository."""

import os
import signal
import sys
import time
import urllib.parse

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
os.environ.setdefault("MOODSHUTTLE_BUILD", os.path.join(ROOT, "build", "x64"))
sys.path.insert(0, os.path.join(ROOT, "rig"))
import harness  # noqa: E402
import tls  # noqa: E402
import ways  # noqa: E402
from pds import Pds  # noqa: E402
from status_service import StatusService  # noqa: E402

MOODS = ["Going home", "Coffee first \u2615", "50% done & counting"]


def updates(service):
    return [r for r in service.requests() if r["authorization"]]


def show(request):
    body = request["body"]
    text = urllib.parse.unquote_plus(body[len(b"status="):].rstrip(b" ").decode("latin-1"), encoding="utf-8")
    print("  service got %s %s as %s: %r" % (request["method"], request["uri"], request["user"], text))


class Bluesky:
    """The reference AT Protocol server with an account for the demo."""

    def __init__(self, wine):
        certs = tls.make_certs(wine.folder("certs"))
        tls.trust_root(wine, certs)
        print("starting the reference AT Protocol server (PDS) behind nginx with TLS ...")
        self.pds = Pds(wine.folder("pds"), certs)
        try:
            account = self.pds.create_account("alice.test", "demo-main-password")
            self.app_password = self.pds.create_app_password(account, "Moodshuttle demo")
        except Exception:
            self.pds.stop()
            raise
        self.did = account["did"]
        print("PDS at %s; account alice.test (%s), an app password made for the program" % (self.pds.url(), self.did))

    def settings(self):
        return harness.settings_text("alice.test", self.app_password) + "service=%s\r\n" % self.pds.url(
            "/xrpc/com.atproto.repo.createRecord")

    def count(self):
        return len(self.pds.posts(self.did))

    def wait_and_show(self, before):
        harness.wait_until(lambda: self.count() > before, 30)
        for post in self.pds.posts(self.did)[before:]:
            print("  read back from the repository: %r, made %s" % (post["text"], post["createdAt"]))


def post_mood(client, service, mood, bluesky=None):
    before = bluesky.count() if bluesky else len(updates(service))
    print("chat client: mood is now %r" % mood)
    client.send("mood " + mood)
    if bluesky:
        bluesky.wait_and_show(before)
        return
    service.wait_for(before + 1, timeout=30, authenticated=True)
    show(updates(service)[before])


def main(moods, to_bluesky):
    service = StatusService()
    service.start()
    wine = bluesky = None
    try:
        wine = harness.Wine("demo", proxy_port=service.port, desktop=True)
        if to_bluesky:
            bluesky = Bluesky(wine)
        path = harness.install_program(wine.folder("app"), bluesky.settings() if bluesky else
                                       harness.settings_text("demo", "demo-password"))
        if not bluesky:
            print("status service stand-in on 127.0.0.1:%d (the program's proxy)" % service.port)
        print("program: %s, %s" % (harness.exe("Moodshuttle.exe"), "the shipped 32-bit build, run "
                                   + harness.loader_way(harness.loaders_seen[-1])
                                   if harness.build_is_32bit() else "the 64-bit build, since "
                                   + ways.NOT_RUN_32BIT % harness.way_32bit()[1]
                                   if harness.way_32bit()[0] == "none" else "the 64-bit build"))
        client = wine.start(harness.exe("skype_standin.exe"), "--attach", "0", stdin=True)
        client.expect(r"^ready ")
        program = wine.start(path, proxy=not bluesky)
        client.expect(r"^discover ", timeout=30)
        print("chat client: Moodshuttle asks to attach")
        client.expect(r"^replied \d+ 0$", timeout=30)
        print("chat client: attach granted (status 0)")
        _, m = client.expect(r"^command \d+ \w+ \d+ (\w*)$", timeout=30)
        print("chat client: command %r" % bytes.fromhex(m.group(1)).rstrip(b"\0").decode())
        print("Moodshuttle is running in the notification area and attached to the chat client")
        for mood in moods:
            post_mood(client, service, mood, bluesky)
        shot = os.path.join(harness.BUILD, "demo-desktop.png")
        wine.screenshot(shot)
        print("screenshot of the desktop: %s" % shot)
        if sys.stdin.isatty():
            print("type a mood and Enter to post it; an empty line ends the demo")
            while True:
                try:
                    mood = input("mood> ")
                except EOFError:
                    break
                if not mood:
                    break
                post_mood(client, service, mood, bluesky)
        code, main_window = wine.probe("find", "Moodshuttle", "Moodshuttle")
        if code == 0:
            wine.probe("post", main_window, "0x10", "0", "0")  # WM_CLOSE, as the system sends it
            print("Moodshuttle closed with exit code %d" % program.wait(timeout=20))
        if bluesky:
            print("%d posts in the repository" % bluesky.count())
        else:
            print("%d updates received" % len(updates(service)))
    finally:
        for sig in (signal.SIGTERM, signal.SIGINT):  # a second signal must not cut the clean-up short
            signal.signal(sig, signal.SIG_IGN)
        harness.run_all([wine.close if wine else lambda: None, bluesky.pds.stop if bluesky else lambda: None,
                         service.stop])


if __name__ == "__main__":
    # Ended from outside, it still stops everything it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    args = sys.argv[1:]
    to_bluesky = args[:1] == ["bluesky"]
    if to_bluesky and ways.pds_missing():
        sys.exit("scripts/demo bluesky: " + ways.NOT_RUN_PDS % ways.pds_missing())
    main((args[1:] if to_bluesky else args) or MOODS, to_bluesky)

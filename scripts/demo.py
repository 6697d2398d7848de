"""Runs Moodshuttle for real under Wine: a desktop with a taskbar, the chat
client stand-in telling it of mood changes, and the status service stand-in
(reached as the HTTP proxy) printing every update it receives."""

import os
import signal
import sys
import time
import urllib.parse

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
os.environ.setdefault("MOODSHUTTLE_BUILD", os.path.join(ROOT, "build", "x64"))
sys.path.insert(0, os.path.join(ROOT, "rig"))
import harness  # noqa: E402
from status_service import StatusService  # noqa: E402

MOODS = ["Going home", "Coffee first \u2615", "50% done & counting"]


def updates(service):
    return [r for r in service.requests() if r["authorization"]]


def show(request):
    body = request["body"]
    text = urllib.parse.unquote_plus(body[len(b"status="):].rstrip(b" ").decode("latin-1"), encoding="utf-8")
    print("  service got %s %s as %s: %r" % (request["method"], request["uri"], request["user"], text))


def post_mood(client, service, mood):
    before = len(updates(service))
    print("chat client: mood is now %r" % mood)
    client.send("mood " + mood)
    service.wait_for(before + 1, timeout=30, authenticated=True)
    show(updates(service)[before])


def main(moods):
    service = StatusService()
    service.start()
    wine = None
    try:
        wine = harness.Wine("demo", proxy_port=service.port, desktop=True)
        path = harness.install_program(wine.folder("app"), harness.settings_text("demo", "demo-password"))
        print("status service stand-in on 127.0.0.1:%d (the program's proxy)" % service.port)
        print("program: %s, %s" % (harness.exe("Moodshuttle.exe"), "the shipped 32-bit build, run "
                                   + harness.loader_way(harness.loaders_seen[-1])
                                   if harness.build_is_32bit() else "the 64-bit build"))
        client = wine.start(harness.exe("skype_standin.exe"), "--attach", "0", stdin=True)
        client.expect(r"^ready ")
        program = wine.start(path)
        client.expect(r"^discover ", timeout=30)
        print("chat client: Moodshuttle asks to attach")
        client.expect(r"^replied \d+ 0$", timeout=30)
        print("chat client: attach granted (status 0)")
        _, m = client.expect(r"^command \d+ \w+ \d+ (\w*)$", timeout=30)
        print("chat client: command %r" % bytes.fromhex(m.group(1)).rstrip(b"\0").decode())
        print("Moodshuttle is running in the notification area and attached to the chat client")
        for mood in moods:
            post_mood(client, service, mood)
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
                post_mood(client, service, mood)
        code, main_window = wine.probe("find", "Moodshuttle", "Moodshuttle")
        if code == 0:
            wine.probe("post", main_window, "0x10", "0", "0")  # WM_CLOSE, as the system sends it
            print("Moodshuttle closed with exit code %d" % program.wait(timeout=20))
        print("%d updates received" % len(updates(service)))
    finally:
        for sig in (signal.SIGTERM, signal.SIGINT):  # a second signal must not cut the clean-up short
            signal.signal(sig, signal.SIG_IGN)
        harness.run_all([wine.close if wine else lambda: None, service.stop])


if __name__ == "__main__":
    # Ended from outside, it still stops everything it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    main(sys.argv[1:] or MOODS)

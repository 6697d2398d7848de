"""The icon in the notification area and its menu."""

import time
import unittest

import urllib.parse

from desktopcase import (DesktopCase, ICON_ID, ICON_SPOT, IDC_MOOD, IDC_MOOD_LEFT, IDCANCEL, MOOD, TASKBAR_TOP,
                         WM_CLOSE, WS_DISABLED)
from linkcase import LinkCase

import harness
import tls
from mastodon_standin import MastodonStandin
from pds import Pds

WM_TRAYICON = "0x8001"
WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK = 0x200, 0x201, 0x202, 0x203
WM_RBUTTONDOWN, WM_RBUTTONUP = 0x204, 0x205
WM_NULL, WM_COPYDATA, MSGFLT_ALLOW = 0, 0x4A, 1
TRACED = "user32.ChangeWindowMessageFilterEx;user32.PostMessageA;user32.TrackPopupMenu"
NIF_INFO, NIIF_WARNING = 0x10, 0x2
VK_RETURN, VK_ESCAPE, VK_BACK = "0x0D", "0x1B", "0x08"
CREATE_RECORD = "/xrpc/com.atproto.repo.createRecord"
# Outside code page 1252, as typed on a Western Windows: Japanese, an emoji
# beyond the 16 bits of one UTF-16 unit, a Polish letter.
TYPED = "Gone home \u65e5\u672c \U0001F600 \u0141\u00f3d\u017a"
LEFT = "%d characters left for %s"
OVER = "%d characters over %s's %d: it will be cut, ending with \u2026"


class Tray(DesktopCase):
    def setUp(self):
        super().setUp()
        self.install_path = self.install(harness.settings_text("alice", "s3cret"))
        self.program = self.start(relay=TRACED)
        self.main = self.main_window()
        self.assertIsNotNone(self.main)
        self.assertTrue(self.wait_icon(True), "the icon appears")

    def close_menu(self):
        # Under Wine a click elsewhere reaches the menu through the display's
        # pointer grab, which the menu takes after its window shows.
        self.assertEqual(self.probe("menuready", self.main, "10000")[0], 0, "the menu holds the mouse")
        self.click(300, 500)  # on the empty desktop, away from the menu
        self.wait_count("#32768", "-", 0, timeout=5)
        self.assertEqual(self.count("#32768", "-"), 0, "the menu closed")

    def nulls_after_menus(self):
        """How many showings of the menu were followed by a WM_NULL posted to the main window."""
        count, shown = 0, False
        for kind, function, args in self.traced(self.program):
            if (kind, function) == ("Ret", "TrackPopupMenu"):
                shown = True
            elif shown and (kind, function, args) == ("Call", "PostMessageA", [int(self.main, 16), WM_NULL, 0, 0]):
                count, shown = count + 1, False
        return count

    def post_tray(self, wparam, event):
        self.assertEqual(self.probe("post", self.main, WM_TRAYICON, wparam, str(event))[0], 0)

    def test_the_icon_carries_the_tip(self):
        self.wine.xdotool("mousemove", *map(str, ICON_SPOT))
        tip = self.visible("tooltips_class32", "-", wait_ms=10000)
        self.assertIsNotNone(tip, "hovering shows the tip")
        self.assertEqual(self.probe("text", tip), (0, "text " + b"Moodshuttle".hex()))

    def test_a_press_of_either_button_opens_the_menu_at_the_cursor(self):
        for button in ("1", "3"):
            menu, (left, top, right, bottom) = self.open_menu(button)
            # Bottom edge at the cursor, or at the taskbar's top where the
            # platform keeps menus off the taskbar.
            self.assertIn(bottom, (ICON_SPOT[1], TASKBAR_TOP), button)
            self.assertLessEqual(right, 1024)
            if button == "1":
                # The icon's tip, shown while the pointer rests there, goes by itself.
                self.wait_count("tooltips_class32", "-", 0)
                self.save_screenshot("tray-menu.png", "260x140+764+628")
            self.close_menu()
            # Else the next showing may appear and vanish at once, on Windows.
            self.assertTrue(harness.wait_until(lambda: self.nulls_after_menus() == int(button == "3") + 1, 5),
                            "a WM_NULL after the menu")

        # Away from the screen's edges the menu hangs from the cursor exactly.
        self.wine.xdotool("mousemove", "500", "300")
        self.post_tray(ICON_ID, WM_LBUTTONDOWN)
        menu = self.menu()
        self.assertIsNotNone(menu)
        left, top, right, bottom = self.info(menu)["rect"]
        self.assertEqual((left, bottom), (500, 300))
        self.assertGreater(bottom - top, 20)
        self.close_menu()

    def test_only_a_press_on_our_icon_opens_the_menu(self):
        for wparam, event in ((ICON_ID, WM_MOUSEMOVE), (ICON_ID, WM_LBUTTONUP), (ICON_ID, WM_LBUTTONDBLCLK),
                              (ICON_ID, WM_RBUTTONUP), ("1002", WM_LBUTTONDOWN), ("1002", WM_RBUTTONDOWN)):
            self.post_tray(wparam, event)
            self.assertIsNone(self.menu(wait_ms=1000), (wparam, hex(event)))
        # A real double click: its first press opens the menu, and nothing
        # after it opens another.
        self.click(*ICON_SPOT, repeat=2)
        time.sleep(1)
        self.assertLessEqual(self.count("#32768", "-"), 1)
        self.click(300, 500)
        self.assertIsNone(self.program.proc.poll())

    def test_setting_opens_the_dialog_and_twice_opens_two(self):
        before = harness.read_bytes(self.ini)
        _, rect = self.open_menu()
        self.choose(rect, "setting")
        first = self.dialog()
        self.assertIsNotNone(first, "Setting opens the dialog")
        self.assertEqual(self.info(self.main)["visible"], False, "the main window stays hidden")

        _, rect = self.open_menu("3")
        self.choose(rect, "setting")
        self.wait_count("#32770", "Option", 2)
        self.assertEqual(self.count("#32770", "Option"), 2, "a second dialog beside the first")

        for _ in range(2):
            self.probe("click", self.dialog(), IDCANCEL)
            time.sleep(0.5)
        self.assertIsNone(self.dialog(wait_ms=1000))
        self.assertEqual(harness.read_bytes(self.ini), before)
        self.assertIsNone(self.program.proc.poll(), "closing the dialog changes nothing else")
        self.assertTrue(self.icon_is(True))

    def test_the_filter_is_opened_only_for_an_elevated_copy(self):
        # Under Wine a plain start has an administrator's full token; the
        # token linked to it is the limited one a plain start has on Windows.
        probe = harness.windows_path(harness.exe("probe.exe"))
        rows = [("a plain start: elevated under Wine", "integrity 3000 elevated 1 type 2", 3),
                ("the limited token: no filter", "integrity 3000 elevated 0 type 3", 0)]
        for name, token, opened in rows:
            with self.subTest(name):
                if opened == 0:
                    self.assertEqual(self.close_program(self.program), 0)
                    self.assertTrue(self.wait_icon(False))
                    seen = self.wine.run(harness.exe("probe.exe"), "linked", probe, "token")
                    self.assertEqual(seen.stdout.decode().strip(), token)
                    self.program = self.wine.start(harness.exe("probe.exe"), "linked",
                                                   harness.windows_path(self.install_path), debug="+relay")
                    self.main = self.main_window()
                    self.assertTrue(self.wait_icon(True), "the icon appears")
                else:
                    self.assertEqual(self.probe("token"), (0, token))
                link = self.find("SkypeSR", "SkypeSendReceiveWindwow")
                self.assertIsNotNone(link, "the link window was made")
                link = int(link, 16)

                def message(name):
                    return int(self.probe("message", name)[1], 16)
                wanted = sorted([[int(self.main, 16), message("TaskbarCreated"), MSGFLT_ALLOW, 0],
                                 [link, message("SkypeControlAPIAttach"), MSGFLT_ALLOW, 0],
                                 [link, WM_COPYDATA, MSGFLT_ALLOW, 0]])[:opened]

                def let_in():
                    return sorted(args for kind, function, args in self.traced(self.program)
                                  if (kind, function) == ("Call", "ChangeWindowMessageFilterEx"))
                harness.wait_until(lambda: len(let_in()) >= 3, 5 if opened else 3)
                self.assertEqual(let_in(), wanted)

    def test_exit_removes_the_icon_and_ends_with_0(self):
        _, rect = self.open_menu()
        self.choose(rect, "exit")
        self.assertEqual(self.program.wait(), 0)
        self.assertTrue(self.wait_icon(False), "the icon is gone")

    def test_exit_while_the_dialog_is_open_ends_the_program_and_drops_the_typing(self):
        before = harness.read_bytes(self.ini)
        _, rect = self.open_menu()
        self.choose(rect, "setting")
        dialog = self.dialog()
        self.probe("settext", dialog, "4000", "typed but never confirmed")
        _, rect = self.open_menu()
        self.choose(rect, "exit")
        self.assertEqual(self.program.wait(), 0)
        self.assertTrue(self.wait_icon(False))
        self.assertEqual(harness.read_bytes(self.ini), before)

    def test_close_from_outside_ends_with_0(self):
        self.assertEqual(self.probe("post", self.main, WM_CLOSE, "0", "0")[0], 0)
        self.assertEqual(self.program.wait(), 0)
        self.assertTrue(self.wait_icon(False), "the icon is gone")

    def test_a_mood_not_posted_is_told_in_a_balloon_over_the_icon(self):
        self.service.set_mode("unauthorized")
        self.addCleanup(self.service.set_mode, "normal")
        client = self.start_client()
        client.expect(r"^command ")  # attached: PROTOCOL 5
        client.send("mood refused")
        balloon = self.visible("tooltips_class32", "-")
        self.assertIsNotNone(balloon, "the taskbar shows a balloon")
        left, top, right, bottom = self.info(balloon)["rect"]
        self.assertTrue(right > ICON_SPOT[0] - 200 and bottom <= TASKBAR_TOP + 10, "over the icon")
        self.save_screenshot("balloon.png", "%dx%d+%d+%d" % (1024 - left + 4, 768 - top + 4, left - 4, top - 4))

    def test_the_icon_comes_back_with_the_taskbar(self):
        self.assertEqual(self.probe("untray", self.main, ICON_ID)[0], 0)
        self.assertTrue(self.wait_icon(False), "the icon was taken away")
        self.assertEqual(self.probe("broadcast", "TaskbarCreated")[0], 0)
        self.assertTrue(self.wait_icon(True), "and put back when the taskbar says it is new")
        self.assertIsNone(self.program.proc.poll())
        # The same icon as before: its menu still opens from it.
        self.open_menu()
        self.close_menu()


class TypedMood(DesktopCase):
    """A mood typed in the dialog of the tray menu's first item, posted as the
    client's moods are."""

    def setUp(self):
        super().setUp()
        self.started = []
        self.rows = 0

    def start_program(self, settings, proxy=True):
        """Stops the program of the row before; installs and starts it anew."""
        for p in self.started:
            p.kill()
        self.rows += 1
        self.folder = self.wine.folder("app-%d" % self.rows)
        self.install(settings)
        program = self.wine.start(self.program, proxy=proxy)
        self.started.append(program)
        self.assertTrue(self.wait_icon(True), "the icon appears")
        return program

    def open_mood_dialog(self):
        _, rect = self.open_menu()
        self.choose(rect, "mood")
        dialog = self.visible(*MOOD)
        self.assertIsNotNone(dialog, "the item opens the dialog")
        return dialog

    def box(self, dialog, ident=IDC_MOOD):
        """(text, greyed) of a dialog item."""
        style, text = self.wine.item(dialog, ident)
        return text.decode(), bool(style & WS_DISABLED)

    def type_mood(self, dialog, text):
        """Types text into the dialog through the keyboard's path, as UTF-16
        key events, after whatever the box has selected."""
        self.assertEqual(self.probe("type", text)[0], 0)
        self.assertTrue(harness.wait_until(lambda: self.box(dialog)[0] == text, 10), self.box(dialog))

    def post_typed(self, text):
        """Opens the dialog, types text over what it shows, and posts it with Enter."""
        dialog = self.open_mood_dialog()
        self.type_mood(dialog, text)
        self.assertFalse(self.box(dialog, 1)[1], "Post is not greyed")
        self.assertEqual(self.probe("key", VK_RETURN)[0], 0)
        self.assertTrue(self.wait_gone(dialog), "Enter posts and closes the dialog")
        return dialog

    def posted(self):
        """The bodies of the updates the status stand-in has seen, in order."""
        return [r["body"] for r in self.service.requests() if r["authorization"]]

    def test_a_typed_mood_arrives_byte_for_byte_at_each_way(self):
        certs = tls.make_certs(self.wine.folder("certs"))
        tls.trust_root(self.wine, certs)
        mastodon = MastodonStandin({"tok-w": ["write:statuses"]})
        self.addCleanup(mastodon.stop)
        mastodon_tls = tls.TlsService(self.wine.folder("nginx-mastodon"), certs["trusted"], mastodon.port)
        self.addCleanup(mastodon_tls.stop)
        pds = Pds(self.wine.folder("pds"), certs)
        self.addCleanup(pds.stop)
        account = pds.create_account("alice.test", "the-main-password")
        app_password = pds.create_app_password(account, "Moodshuttle")

        def status_service():
            """The texts of the updates since the row began, from their bodies."""
            harness.wait_until(lambda: self.posted()[self.before:], 20)
            bodies = self.posted()[self.before:]
            self.assertTrue(all(b.startswith(b"status=") and b.endswith(b" ") for b in bodies), bodies)
            return [urllib.parse.unquote_to_bytes(b[7:-1].replace(b"+", b"%20")).decode() for b in bodies]
        # The settings; whether through the proxy; the line under the box for
        # what is typed; what the way then holds.
        rows = (
            ("the usual service, through the status stand-in", harness.settings_text("alice", "s3cret"), True,
             "", status_service),
            ("Mastodon's stand-in", harness.settings_text("alice@localhost", "tok-w") + "service=%s\r\n"
             % mastodon_tls.url("/api/v1/statuses"), False, LEFT % (500 - len(TYPED), "Mastodon"),
             lambda: mastodon.wait_for(1, 20) and mastodon.statuses()),
            ("the reference AT Protocol server", harness.settings_text("alice.test", app_password) + "service=%s\r\n"
             % pds.url(CREATE_RECORD), False, LEFT % (300 - len(TYPED), "Bluesky"),
             lambda: harness.wait_until(lambda: pds.posts(account["did"]), 30) and
             [p["text"] for p in pds.posts(account["did"])]),
        )
        for proves, settings, proxy, line, arrived in rows:
            with self.subTest(proves):
                self.before = len(self.posted())
                self.start_program(settings, proxy)
                dialog = self.open_mood_dialog()
                self.assertEqual(self.box(dialog), ("", False), "nothing posted yet: an empty box")
                self.assertEqual(self.box(dialog, 1), ("Post", True), "Post greyed for an empty box")
                self.type_mood(dialog, TYPED)
                self.assertEqual(self.box(dialog, IDC_MOOD_LEFT)[0], line, "the line under the box")
                self.assertEqual(self.probe("key", VK_RETURN)[0], 0)
                self.assertTrue(self.wait_gone(dialog), "Enter posts and closes the dialog")
                self.assertEqual(arrived(), [TYPED], "once, byte for byte")

                # The box then shows it, whole and selected: typing replaces it.
                dialog = self.open_mood_dialog()
                self.assertEqual(self.box(dialog)[0], TYPED)
                self.type_mood(dialog, "x")
                self.assertEqual(self.probe("key", VK_ESCAPE)[0], 0)
                self.assertTrue(self.wait_gone(dialog), "Esc cancels")
                time.sleep(1)
                self.assertEqual(arrived(), [TYPED], "nothing more")

    def test_the_line_the_grey_post_and_the_item_again(self):
        self.start_program(harness.settings_text("alice@localhost", "tok-w") +
                           "service=https://localhost:9/api/v1/statuses\r\n", proxy=False)
        dialog = self.open_mood_dialog()
        # What is typed; the line under the box; whether Post is greyed.
        rows = (
            ("a", LEFT % (499, "Mastodon"), False),
            ("\u65e5" * 499, "1 character left for Mastodon", False),
            ("\U0001F600" * 500, LEFT % (0, "Mastodon"), False),
            ("a" * 501, "1 character over Mastodon's 500: it will be cut, ending with \u2026", False),
            ("\u00e9" * 700, OVER % (200, "Mastodon", 500), False),
            (" \u3000\u00a0 ", LEFT % (496, "Mastodon"), True),
            ("\u3000", LEFT % (499, "Mastodon"), True),
        )
        for typed, line, greyed in rows:
            with self.subTest(typed[:8]):
                self.probe("settext", dialog, str(IDC_MOOD), "")  # emptied; what matters is typed after
                self.type_mood(dialog, typed)
                self.assertEqual(self.box(dialog, IDC_MOOD_LEFT)[0], line)
                self.assertEqual(self.box(dialog, 1)[1], greyed, "Post greyed")
                if greyed:
                    self.assertEqual(self.probe("key", VK_RETURN)[0], 0)
                    time.sleep(0.5)
                    self.assertEqual(self.probe("info", dialog)[0], 0, "Enter does nothing while Post is greyed")

        # The picture in the README, of a mood as a user types one (the
        # desktop here has no font for Japanese).
        self.probe("settext", dialog, str(IDC_MOOD), "")
        self.type_mood(dialog, "\u0141\u00f3d\u017a by train, back on Sunday \U0001F600")
        left, top, right, bottom = self.info(dialog)["rect"]
        self.save_screenshot("mood-dialog.png", "%dx%d+%d+%d" % (right - left + 10, bottom - top + 10, left - 5, top - 5))

        # The box takes no more than the link keeps: 2,004 bytes of UTF-8.
        self.probe("settext", dialog, str(IDC_MOOD), "")
        self.type_mood(dialog, "\u65e5" * 668)
        self.assertEqual(self.probe("type", "\u65e5ab")[0], 0)
        self.assertTrue(harness.wait_until(lambda: len(self.box(dialog)[0].encode()) == 2004, 10))
        self.assertEqual(self.box(dialog)[0], "\u65e5" * 668, "a three-byte character past the bound is refused")

        # Chosen again, the item brings the open dialog to the front, here
        # from behind the Option dialog.
        self.assertEqual(self.probe("foreground")[1], dialog)
        _, rect = self.open_menu()
        self.choose(rect, "setting")
        option = self.dialog()
        self.assertIsNotNone(option, "Setting still opens the Option dialog")
        self.assertTrue(harness.wait_until(lambda: self.probe("foreground")[1] == option, 5))
        _, rect = self.open_menu()
        self.choose(rect, "mood")
        self.assertTrue(harness.wait_until(lambda: self.probe("foreground")[1] == dialog, 5), "the same dialog in front")
        self.assertEqual(self.count(*MOOD), 1, "and no other")
        self.probe("click", option, IDCANCEL)

    def test_a_typed_mood_and_the_clients_both_arrive_once(self):
        self.install(harness.settings_text("alice", "s3cret"))
        client, program = self.start_with_client()
        self.started.append(program)
        self.assertTrue(self.wait_icon(True))
        dialog = self.open_mood_dialog()
        self.type_mood(dialog, TYPED)
        before = len(self.posted())
        client.send("mood from the client")
        self.assertEqual(self.probe("key", VK_RETURN)[0], 0)
        self.service.wait_for(before + 2, 20, authenticated=True)
        time.sleep(1.5)
        bodies = sorted(self.posted()[before:])
        typed = b"status=" + urllib.parse.quote_plus(TYPED.encode(), safe="").encode() + b" "
        self.assertEqual(bodies, sorted([b"status=from+the+client ", typed]), "each once")
        # The box shows the last mood posted, whichever source gave it.
        dialog = self.open_mood_dialog()
        self.assertIn(self.box(dialog)[0], ("from the client", TYPED))
        client.send("mood later from the client")
        self.service.wait_for(before + 3, 20, authenticated=True)
        self.assertEqual(self.probe("key", VK_ESCAPE)[0], 0)
        self.assertTrue(self.wait_gone(dialog))
        self.assertEqual(self.box(self.open_mood_dialog())[0], "later from the client",
                         self.posted()[before:])


class Balloons(LinkCase):
    """Updates that do not get through, told in a balloon on the icon, read
    where the shell hands it to the taskbar: the taskbar stand-in."""

    def balloons(self, taskbar):
        """The balloons handed to the taskbar so far, as (line index, text)."""
        found = []
        for i, line in enumerate(list(taskbar.stdout)):
            if line.startswith("balloon "):
                _, _, _, icon, flags, info_flags, title, text = line.split(" ")
                self.assertEqual((icon, int(flags, 16), int(info_flags, 16), bytes.fromhex(title)),
                                 (ICON_ID, NIF_INFO, NIIF_WARNING, b"Moodshuttle"), "the tip is left alone")
                found.append((i, bytes.fromhex(text).decode()))
        return found

    def test_each_kind_of_failure_is_told_once_until_a_post_gets_through(self):
        certs = tls.make_certs(self.wine.folder("certs"))
        https = tls.TlsService(self.wine.folder("nginx"), certs["untrusted"], self.service.port, "alice", "s3cret")
        self.addCleanup(https.stop)
        # A Mastodon server that knows no token of the account's.
        tls.trust_root(self.wine, certs)
        mastodon = MastodonStandin({})
        self.addCleanup(mastodon.stop)
        mastodon_tls = tls.TlsService(self.wine.folder("nginx-mastodon"), certs["trusted"], mastodon.port)
        self.addCleanup(mastodon_tls.stop)
        # Steps: the service's mode, moods sent, balloons that follow.
        rows = (
            ("a refused account: once, and again after a post got through", (), None,
             [("normal", 1, 0), ("unauthorized", 1, 1), ("unauthorized", 1, 0), ("normal", 1, 0),
              ("unauthorized", 1, 1)], ["twitter.com refused the account", "Setting in this icon's menu"]),
            ("a burst of 50 against a service that cannot be reached", (), None, [("refuse", 50, 1)],
             ["could not reach twitter.com"]),
            ("any other answer, with its code", (), None, [("status500", 1, 1)], ["twitter.com answered with status 500"]),
            ("a certificate from a root not trusted", (), https.url("/statuses/update.json"), [("normal", 1, 1)],
             ["talking to localhost", "Nothing was sent"]),
            ("a refused token at a Mastodon server", (), mastodon_tls.url("/api/v1/statuses"), [("normal", 1, 1)],
             ["localhost refused the access token", "Setting in this icon's menu"]),
            ("a failure before the taskbar took the icon waits for it", ("--refuse", "6"), None, [("refuse", 1, 1)],
             ["could not reach twitter.com"]),
        )
        for proves, refusals, address, steps, words in rows:
            self.stop_started()
            with self.subTest(proves):
                taskbar = self.wine.start(harness.exe("taskbar_standin.exe"), *refusals)
                self.started.append(taskbar)
                taskbar.expect(r"^ready ")
                client = self.start_client("--attach", "0")
                path = address and harness.install_program(self.wine.folder("https"), harness.settings_text(
                    "alice", "s3cret") + "service=%s\r\n" % address)
                program = self.wine.start(path or self.program, proxy=not address)
                self.started.append(program)
                self.attach(client)
                if not refusals:
                    taskbar.expect(r"^request \d+ add \w+ 1001 added$")
                told = 0
                for mode, moods, balloons in steps:
                    self.service.set_mode(mode)
                    connections, arrived = self.service.connections(), len(self.service.requests())
                    for i in range(moods):
                        client.send("mood %s %d" % (mode, i))
                    harness.wait_until(lambda: self.service.connections() >= connections + moods if mode == "refuse"
                                       else len(self.service.requests()) > arrived or address, 20)
                    if refusals:
                        self.assertFalse([1 for line in taskbar.stdout if line.endswith(" added")],
                                         "the mood failed before the icon was taken")
                    told += balloons
                    harness.wait_until(lambda: len(self.balloons(taskbar)) >= told, 20)
                    self.settle()
                    self.assertEqual(len(self.balloons(taskbar)), told, (mode, moods))
                self.service.set_mode("normal")
                taken = [i for i, line in enumerate(taskbar.stdout) if line.endswith(" added")]
                for index, text in self.balloons(taskbar):
                    self.assertGreater(index, taken[0], "no balloon before the icon is there")
                    for word in words:
                        self.assertIn(word, text)
                if address:
                    self.assertEqual(self.posts()[self.posts_before:], [], "nothing got through")


if __name__ == "__main__":
    unittest.main()

"""The account prompt and the Option dialog, as the user meets them."""

import os
import re
import unittest

from desktopcase import (DesktopCase, ES_PASSWORD, IDC_PASSWORD, IDC_USERNAME, IDCANCEL, IDM_SETTING, IDOK, MAIN,
                         WM_COMMAND)

import harness

ETDT_USETABTEXTURE = 4
SERVICE = "http://127.0.0.1:8765/own/update.json"


class FirstRun(DesktopCase):
    def test_no_settings_file_prompts_before_anything_else_and_cancel_ends_with_1(self):
        self.install(None)
        program = self.start()
        dialog = self.dialog()
        self.assertIsNotNone(dialog, "the prompt")
        self.assertIsNone(self.main_window(wait_ms=0), "no main window yet")
        self.assertTrue(self.icon_is(False), "no icon yet")
        left, top, right, bottom = self.info(dialog)["rect"]
        self.save_screenshot("option-dialog.png", "%dx%d+%d+%d" % (right - left + 10, bottom - top + 10, left - 5, top - 5))
        self.probe("click", dialog, IDCANCEL)
        self.assertEqual(program.wait(), 1)
        self.assertTrue(self.icon_is(False))
        self.assertEqual(os.listdir(self.folder), ["Moodshuttle.exe"], "nothing written")

    def test_ok_with_empty_boxes_stores_both_keys_empty_and_the_next_start_asks_again(self):
        self.install(None)
        program = self.start()
        self.probe("click", self.dialog(), IDOK)
        self.assertIsNotNone(self.main_window(), "start-up went on")
        self.assertTrue(self.wait_icon(True))
        self.assertEqual((self.stored("username"), self.stored("password")), ("", ""))
        self.assertEqual(self.count(*MAIN), 0, "the main window stays hidden")
        self.assertEqual(self.close_program(program), 0)

        again = self.start()
        self.assertIsNotNone(self.dialog(), "still no account: the prompt again")
        self.probe("click", self.dialog(), IDCANCEL)
        self.assertEqual(again.wait(), 1)
        self.assertEqual((self.stored("username"), self.stored("password")), ("", ""), "Cancel wrote nothing")

    def test_a_name_of_two_bytes_prompts_and_of_three_does_not(self):
        self.install(harness.settings_text("ab", "pw"))
        program = self.start()
        self.assertIsNotNone(self.dialog())
        self.assertIsNone(self.main_window(wait_ms=0))
        self.probe("click", self.dialog(), IDCANCEL)
        self.assertEqual(program.wait(), 1)

        self.install(harness.settings_text("abc", "pw"))
        program = self.start()
        self.assertIsNotNone(self.main_window())
        self.assertTrue(self.wait_icon(True))
        self.assertIsNone(self.dialog(wait_ms=1500), "no prompt")
        self.assertEqual(self.close_program(program), 0)

    def test_the_account_typed_is_kept_in_a_folder_the_code_page_cannot_spell(self):
        # "Zoë" and "pässwörd" are in the ANSI code page (1252); the folder's name is not.
        account = ("Zoë", "pässwörd")

        def posted(client, mood):  # this Wine's HTTP layer sends the pair in UTF-8
            return tuple(v.encode("latin-1").decode("utf-8") for v in self.credentials_posted(client, mood))

        saved = []
        for name in ("plain", "Łódź 北京"):
            with self.subTest(name):
                self.folder = self.wine.folder(name)
                self.install(None)
                client = self.start_client()
                program = self.start()
                dialog = self.dialog()
                self.assertIsNotNone(dialog, "no settings file yet: the prompt")
                self.probe("settext", dialog, str(IDC_USERNAME), account[0])
                self.probe("settext", dialog, str(IDC_PASSWORD), account[1])
                self.probe("click", dialog, IDOK)
                client.expect(r"^replied \d+ 0$")
                client.expect(r"^command ")  # attached: the program has the client's window
                self.assertEqual(posted(client, "typed"), account)
                self.assertEqual(self.close_program(program), 0)
                client.kill()

                client, program = self.start_with_client()
                self.assertIsNone(self.dialog(wait_ms=0), "read back: no prompt")
                self.assertEqual(posted(client, "restarted"), account)
                self.assertEqual(self.close_program(program), 0)
                client.kill()
                saved.append(harness.read_bytes(self.ini))
        self.assertEqual(saved[0], saved[1], "the same bytes wherever the file is")
        self.assertIn(b"username=Zo\xeb\r\n", saved[0], "in the ANSI code page")

    def test_the_dialog_is_laid_out_for_the_systems_dpi(self):
        # The prefix's DPI (Wine's LogPixels, read as its processes start);
        # the dialog's DPI and size as the screen has them.
        sizes = {}
        for dpi in (96, 144):
            with self.subTest(dpi=dpi):
                if dpi != 96:
                    added = self.wine.run(harness.REG, "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                                          "/t", "REG_DWORD", "/d", str(dpi), "/f")
                    self.assertEqual(added.returncode, 0, added.stderr[-500:])
                    harness.run_checked([harness.WINESERVER, "-k"], self.wine.env, 30)
                    harness.run_checked([harness.WINESERVER, "-w"], self.wine.env, 60)
                self.install()
                program = self.start()
                dialog = self.dialog()
                code, out = self.probe("dpi", dialog)
                m = re.match(r"dpi (\d+) size (\d+) (\d+)$", out)
                self.assertEqual((code, int(m.group(1))), (0, dpi), out)
                sizes[dpi] = int(m.group(2)), int(m.group(3))
                if dpi == 144:
                    left, top, _, _ = self.info(dialog)["rect"]
                    self.save_screenshot("option-dialog-144dpi.png", "%dx%d+%d+%d" % (
                        sizes[dpi][0] + 10, sizes[dpi][1] + 10, left - 5, top - 5))
                self.probe("click", dialog, IDCANCEL)
                self.assertEqual(program.wait(), 1)
        # Its font, and so its dialog units, grow with the DPI.
        for grown, was in zip(sizes[144], sizes[96]):
            self.assertTrue(1.3 < grown / was < 1.7, sizes)

    def test_themed_texture_from_windows_xp_on(self):
        for version, tab_texture in (("winxp", True), ("win2k", False)):
            self.install(None, version=version)
            program = self.start()
            dialog = self.dialog()
            # The platform may ask for the plain texture itself; the tab texture is ours.
            self.assertEqual(bool(self.info(dialog)["texture"] & ETDT_USETABTEXTURE), tab_texture, version)
            self.probe("click", dialog, IDCANCEL)
            self.assertEqual(program.wait(), 1)


class Editing(DesktopCase):
    def start_attached(self, username, password, more=""):
        self.install(harness.settings_text(username, password) + more)
        return self.start_with_client()

    def open_dialog(self):
        self.assertEqual(self.probe("post", self.main_window(), WM_COMMAND, IDM_SETTING, "0")[0], 0)
        dialog = self.dialog()
        self.assertIsNotNone(dialog, "Setting opens the dialog")
        return dialog

    def centre(self, rect):
        left, top, right, bottom = rect
        return (left + right) // 2, (top + bottom) // 2

    def test_the_dialog_shows_the_account_and_saves_what_is_typed(self):
        client, program = self.start_attached("alice", "s3cret", "service=%s\r\n" % SERVICE)
        dialog = self.open_dialog()
        name_style, name = self.wine.item(dialog, IDC_USERNAME)
        password_style, _ = self.wine.item(dialog, IDC_PASSWORD)
        self.assertEqual(name, b"alice", "the name in clear")
        self.assertFalse(name_style & ES_PASSWORD)
        self.assertTrue(password_style & ES_PASSWORD, "the password masked")

        controls = self.children(dialog)
        self.assertEqual([c for c, _, _ in controls], ["Button", "Button", "Static", "Static", "Edit", "Edit"])
        (_, ok, _), (_, cancel, _), _, _, (_, name_box, _), (_, password_box, _) = controls
        self.assertLess(cancel[0], ok[0], "Cancel left of OK")

        # Typed for real, more than a value can hold.
        typed = ("0123456789abcdefghijklmnopqrstuvwxyz" * 9)[:300]
        self.probe("settext", dialog, str(IDC_USERNAME), "")
        self.click(*self.centre(name_box))
        self.wine.xdotool("type", "--delay", "4", typed)
        self.probe("settext", dialog, str(IDC_PASSWORD), "")
        self.click(*self.centre(password_box))
        self.wine.xdotool("type", "--delay", "20", "n3w pw")
        self.assertEqual(self.wine.item(dialog, IDC_USERNAME)[1], typed.encode(), "the box took all 300")
        self.click(*self.centre(ok))
        self.assertTrue(self.wait_gone(dialog), "OK closes the dialog")

        self.assertEqual((self.stored("username"), self.stored("password")), (typed[:255], "n3w pw"))
        self.assertEqual(self.credentials_posted(client, "after"), (typed[:255], "n3w pw"), "no restart needed")
        self.assertIsNone(program.proc.poll())
        self.assertEqual(self.stored("service"), SERVICE, "OK keeps the other lines")
        self.assertEqual(self.service.requests()[-1]["uri"], SERVICE)

    def test_cancel_after_editing_changes_nothing(self):
        client, program = self.start_attached("alice", "s3cret")
        before = harness.read_bytes(self.ini)
        dialog = self.open_dialog()
        self.probe("settext", dialog, str(IDC_USERNAME), "mallory")
        self.probe("settext", dialog, str(IDC_PASSWORD), "other")
        self.probe("click", dialog, IDCANCEL)
        self.assertTrue(self.wait_gone(dialog))
        self.assertEqual(harness.read_bytes(self.ini), before)
        self.assertEqual(self.credentials_posted(client, "unchanged"), ("alice", "s3cret"))
        self.assertIsNone(program.proc.poll())
        self.assertTrue(self.icon_is(True))

    def test_a_password_the_code_page_cannot_hold_is_refused_until_changed(self):
        client, program = self.start_attached("alice", "s3cret")
        before = harness.read_bytes(self.ini)
        dialog = self.open_dialog()
        self.probe("settext", dialog, str(IDC_PASSWORD), "Łódź")  # as UTF-16; the code page is 1252
        self.probe("click", dialog, IDOK)
        notice = self.wine.notice()
        self.assertIsNotNone(notice, "OK says why it does not close")
        self.assertIn("The password box holds characters", notice[1])
        self.assertEqual(self.info(notice[0])["owner"], int(dialog, 16), "owned by the dialog")
        self.assertEqual(self.wine.item(dialog, IDC_PASSWORD)[1], "Łódź".encode(), "the box as typed")
        self.assertEqual(harness.read_bytes(self.ini), before, "nothing saved")
        self.probe("click", notice[0], IDOK)
        self.assertTrue(self.wait_gone(notice[0]))

        self.probe("settext", dialog, str(IDC_PASSWORD), "plain")
        self.probe("click", dialog, IDOK)
        self.assertTrue(self.wait_gone(dialog), "a password the code page holds is taken")
        self.assertEqual(self.stored("password"), "plain")
        self.assertEqual(self.credentials_posted(client, "changed"), ("alice", "plain"))

    def test_blanks_and_quotation_marks_survive_a_restart(self):
        for username, password in ((" bob", " pw "), ("carol", '"q"'), ("'dan'", "'"), ("eve", '"'),
                                   ("frank", " " + "q" * 254)):
            client, program = self.start_attached("alice", "s3cret")
            dialog = self.open_dialog()
            self.probe("settext", dialog, str(IDC_USERNAME), username)
            self.probe("settext", dialog, str(IDC_PASSWORD), password)
            self.probe("click", dialog, IDOK)
            self.assertTrue(self.wait_gone(dialog))
            self.assertEqual(self.close_program(program), 0)
            client.kill()
            saved = self.settings()

            client, program = self.start_with_client()
            self.assertEqual(self.credentials_posted(client, "restarted"), (username, password), saved)
            self.assertEqual(self.close_program(program), 0)
            client.kill()


if __name__ == "__main__":
    unittest.main()

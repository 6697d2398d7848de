"""Start-up as users meet it: one instance, the settings file beside the
executable, the first-run prompt."""

import os
import time
import unittest

from linkcase import LinkCase

import harness

OPTION = ("#32770", "Option")


class Startup(LinkCase):
    def wait_running(self, program):
        self.assertTrue(harness.wait_until(lambda: program.debug, timeout=20, step=0.1), "the link started")

    def post_with(self, program_path):
        """Starts the program and a client, posts one mood, returns (user, password)."""
        client = self.start_client("--attach", "0")
        program = self.wine.start(program_path)
        self.started.append(program)
        self.attach(client)
        client.send("mood hello")
        self.new_posts(1)
        auth = [r for r in self.service.requests() if r["authorization"]][-1]
        return auth["user"], auth["password"]

    def test_second_instance_leaves_at_once(self):
        first = self.start_program()
        self.wait_running(first)
        began = time.monotonic()
        second = self.wine.run(self.program, timeout=30)
        self.assertEqual(second.returncode, 1)
        self.assertLess(time.monotonic() - began, 10)
        ticks = len(first.debug)
        time.sleep(2.5)
        self.assertIsNone(first.proc.poll(), "the first instance still runs")
        self.assertGreater(len(first.debug), ticks, "and its link goes on")
        self.assertEqual(len([1 for _, line in first.debug if line.startswith("onCreate")]), 1)

    def test_settings_file_is_named_after_the_executable(self):
        folder = self.wine.folder("named")
        path = harness.install_program(folder, harness.settings_text("bob", "pw1"), name="prog.exe")
        self.assertEqual(self.post_with(path), ("bob", "pw1"))
        self.assertEqual(sorted(os.listdir(folder)), ["prog.exe", "prog.ini"])

    def test_long_value_reads_as_its_first_255_bytes(self):
        folder = self.wine.folder("long")
        path = harness.install_program(folder, harness.settings_text("u" * 300, "p" * 256))
        self.assertEqual(self.post_with(path), ("u" * 255, "p" * 255))

    def test_quoted_values_written_by_hand_read_without_quotes(self):
        folder = self.wine.folder("quoted")
        path = harness.install_program(folder, '[Moodshuttle]\r\nusername = "dave"\r\npassword="  pw  "\r\n')
        self.assertEqual(self.post_with(path), ("dave", "  pw  "))

    def test_a_window_class_that_cannot_be_registered_ends_with_1(self):
        # A full atom table leaves no room for the class name.
        wine = harness.Wine("atoms", display=False)
        try:
            path = harness.install_program(wine.folder("app"), harness.settings_text("alice", "s3cret"))
            code, count = wine.probe("fillatoms")
            self.assertEqual(code, 0)
            self.assertGreater(int(count), 1000)
            program = wine.start(path)
            self.assertEqual(program.wait(timeout=30), 1)
            self.assertEqual(program.debug, [], "ended before the link started")
        finally:
            wine.close()

    def test_path_not_had_whole_uses_no_settings_file(self):
        if harness.build_is_32bit():
            self.skipTest(harness.LONG_PATH_FAULT)
        # Deeper than the 260 bytes the path query gets: the settings file beside it is not read...
        deep = self.wine.folder(os.path.join(*["d" * 40] * 7))
        path = harness.install_program(deep, harness.settings_text("erin", "pw"))
        self.assertGreater(len(harness.windows_path(path)), 260)
        before = harness.read_bytes(path[:-3] + "ini")
        program = self.wine.start(path)
        self.started.append(program)
        dialog = self.wine.find(*OPTION)
        self.assertIsNotNone(dialog, "empty credentials: the prompt")
        self.assertEqual(self.wine.item(dialog, 4000)[1], b"")
        self.wine.probe("settext", dialog, "4000", "frank")
        self.wine.probe("click", dialog, "1")
        self.assertIsNotNone(self.wine.find("Moodshuttle", "Moodshuttle"), "start-up went on")
        time.sleep(1)
        # ...and nothing is written anywhere.
        self.assertEqual(harness.read_bytes(path[:-3] + "ini"), before)
        self.assertEqual(sorted(os.listdir(deep)), ["Moodshuttle.exe", "Moodshuttle.ini"])


if __name__ == "__main__":
    unittest.main()

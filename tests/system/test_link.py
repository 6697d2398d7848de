"""The link to the chat client, attached: the road of a mood change, the
keep-alive, and which notifications start a post."""

import time
import unittest

from linkcase import MOOD_PREFIX, PING, LinkCase


class Attached(LinkCase):
    def test_road_of_a_mood_change_and_the_keepalive(self):
        client = self.start_client("--attach", "0")
        program = self.start_program()
        client.expect(r"^discover ")
        replied = self.attach(client)

        client.send("mood Going home")
        self.assertEqual(self.new_posts(1), [b"status=Going+home "])
        auth = [r for r in self.service.requests() if r["authorization"]][-1]
        self.assertEqual((auth["user"], auth["password"]), ("alice", "s3cret"))

        # Two moods in quick succession: two posts, side by side.
        client.send("mood one")
        client.send("mood two")
        self.assertEqual(sorted(self.new_posts(3)[1:]), [b"status=one ", b"status=two "])

        # Back to back: each answered 1 before its post starts, each posted once.
        client.send("burst 40 quick-")
        client.expect(r"^burst 40$")
        answers = [line.split()[3:] for line in client.stdout if line.startswith("timed ")]
        self.assertEqual(answers, [["1"]] * 40)
        self.assertEqual(sorted(self.new_posts(43)[3:]), sorted(b"status=quick-%d " % i for i in range(1, 41)))

        # The keep-alive: the 12th tick after the reply, then every 12 ticks.
        first, data = self.next_command(client, timeout=16)
        self.assertEqual(data, PING)
        self.assertGreaterEqual(first - replied, 10.8)
        self.assertLessEqual(first - replied, 13.2)
        second, data = self.next_command(client, timeout=16)
        self.assertEqual(data, PING)
        self.assertAlmostEqual(second - first, 12.0, delta=1.0)

        self.assertEqual(len(self.debug_lines(program, "onCreate::WM_SKYPECONTROL_DISCOVER\n")), 1)
        self.assertEqual(self.debug_lines(program, "onTimer::WM_SKYPECONTROL_DISCOVER\n"), [],
                         "no rediscovery while attached")
        self.assertEqual(len(self.debug_lines(program, "WM_SKYPECONTROL_ATTACH: 0\n")), 1)

    def test_which_notifications_post(self):
        client = self.start_client("--attach", "0")
        program = self.start_program()
        self.attach(client)
        ignored = [
            ("self", b"PROFILE MOOD_TEXTGoing home\0", "auto", "prefix without its trailing space"),
            ("self", b"profile mood_text Going home\0", "auto", "prefix in lower case"),
            ("self", b"PROFILE FULLNAME Bob\0", "auto", "another notification"),
            ("self", MOOD_PREFIX + b"x\0", "18", "cbData of 18"),
            ("self", MOOD_PREFIX, "auto", "the prefix without terminator, 18 bytes"),
            ("other", MOOD_PREFIX + b"from elsewhere\0", "auto", "another window"),
            ("null", MOOD_PREFIX + b"from nobody\0", "auto", "a null sender while a client is known"),
            ("self", b"", "0", "cbData 0 and a null pointer"),
        ]
        for sender, data, size, _ in ignored:
            self.send(client, sender, data, size)
        # 64 KiB of one ASCII byte and three-byte characters: the body holds
        # "status=", 1015 encoded bytes at most and the space, so the text is
        # cut after the last whole character that fits (1 + 112 * 9 bytes).
        huge = (MOOD_PREFIX + b"x" + "日本".encode("utf-8") * 11000)[:65535] + b"\0"
        # The good ones: they must be the only posts.
        goods = [
            (MOOD_PREFIX + b"\0", "auto", b"status= ", "the prefix alone"),
            (MOOD_PREFIX + b"Going home", "25", b"status=Going+h ", "cut by cbData"),
            (MOOD_PREFIX + "日本".encode("utf-8") + b"\0", "auto", b"status=%E6%97%A5%E6%9C%AC ", "UTF-8"),
            (MOOD_PREFIX + b"\xff\xfe\x80\xc3\0", "auto", b"status=%FF%FE%80%C3 ", "not UTF-8: byte for byte"),
            (huge, "auto", b"status=x" + b"%E6%97%A5%E6%9C%AC" * 56 + b" ", "64 KiB"),
        ]
        for data, size, _, _ in goods:
            self.send(client, "self", data, size)
        self.new_posts(len(goods))
        self.settle()
        self.assertEqual(sorted(self.posts()[self.posts_before:]), sorted(body for _, _, body, _ in goods))
        self.assertIsNone(program.proc.poll(), "still running")

    def test_a_full_queue_is_bounded_in_memory(self):
        # The service holds its answers: 400 notifications just over the
        # bound start the 400 posters the link runs at most; then 16 of
        # 1.5 MiB (the most Wine hands over: from about 2 MiB on its
        # SendMessage times out) and 16,368 more just over the bound fill the
        # waiting queue, and 16 more find it full and are dropped. Each keeps
        # at most 2,004 bytes of its text (kMoodBytesMax). All within the
        # 30 s a poster waits for an answer.
        client = self.start_client("--attach", "0")
        program = self.start_program()
        self.attach(client)
        over = 18 + 2004 + 100 + 1  # the prefix, 100 bytes more than are kept, the terminator

        def resident():
            with open("/proc/%d/status" % program.proc.pid) as f:
                return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmRSS:"))

        def flood(first, count, size):
            client.send("flood %d %d %d" % (first, count, size))
            _, m = client.expect(r"^flooded .*", timeout=120)
            self.assertEqual(m.group(0), "flooded %d 0" % count, "every notification answered 1")

        came = len(self.service.requests())
        self.service.hold()
        self.addCleanup(self.service.release)
        flood(1, 400, over)
        self.service.wait_for(came + 400, 10)
        running = resident()
        flood(401, 16, 3 * 2**19)
        # What Wine's copies of the messages leave besides (3.6 MiB seen), far below the 24 MiB they carry.
        self.assertLess(resident() - running, 6 * 2**20, "16 of 1.5 MiB keep 2,004 bytes each")
        flood(417, 16368 + 16, over)
        queued = resident() - running
        self.assertLess(queued, 40 * 2**20, "16,384 texts of 2,005 bytes at most (31.3 MiB), and their blocks")
        self.assertGreater(queued, 28 * 2**20, "the queue was full")
        # Posted in the order taken: the 400, then the queue from its head.
        # The whole queue takes over 10 minutes to post under Wine here, so
        # its first 1,000 posts are waited for.
        self.service.release()
        bodies = self.service.wait_for(self.posts_before + 1000, 300, authenticated=True)[self.posts_before:]
        numbers = {int(r["body"].split(b"+")[0][len(b"status=m"):]) for r in bodies}
        self.assertTrue(set(range(1, 417)) <= numbers, "the 400 and the 16 large ones posted")
        self.assertEqual(len(numbers), len(bodies), "each once")
        self.assertTrue(all(len(r["body"]) <= 1024 and r["body"].endswith(b"x ") for r in bodies), "cut to the body")
        self.assertIsNone(program.proc.poll(), "still running")
        # Ended, with the rest of the queue, before the next case starts its own programs in this prefix.
        main = self.wine.find("Moodshuttle", "Moodshuttle")
        self.assertEqual(self.wine.probe("post", main, "0x10", "0", "0")[0], 0)
        self.assertEqual(program.wait(timeout=60), 0)


class Unattached(LinkCase):
    def test_discovery_every_second_without_a_client(self):
        program = self.start_program()
        # Counted from the first discovery, not from the start, which Wine's
        # 32-bit loader takes seconds longer for where it runs emulated.
        first = self.wait_debug(program, "onCreate::WM_SKYPECONTROL_DISCOVER\n")[:1]
        self.assertTrue(first, "a first discovery")
        time.sleep(max(0, first[0] + 5.5 - time.monotonic()))
        created = self.debug_lines(program, "onCreate::WM_SKYPECONTROL_DISCOVER\n")
        ticks = self.debug_lines(program, "onTimer::WM_SKYPECONTROL_DISCOVER\n")
        self.assertEqual(len(created), 1)
        self.assertIn(len(ticks), (4, 5, 6))
        self.assertLess(created[0], ticks[0])
        gaps = [b - a for a, b in zip(ticks, ticks[1:])]
        self.assertTrue(all(0.7 < g < 1.3 for g in gaps), gaps)
        self.assertEqual(program.debug[0][1], "onCreate::WM_SKYPECONTROL_DISCOVER\n")

    def test_refusals_keep_discovering(self):
        for status, line in (("2", "WM_SKYPECONTROL_ATTACH: 2\n"), ("0x8001", "WM_SKYPECONTROL_ATTACH: 8001\n")):
            self.stop_started()
            with self.subTest(status):
                client = self.start_client("--attach", status)
                program = self.start_program()
                client.expect(r"^replied ")
                client.expect(r"^replied ")
                client.expect(r"^replied ")
                self.assertGreaterEqual(len(self.wait_debug(program, line, 2)), 2, "one line per reply")
                self.assertGreaterEqual(len(self.wait_debug(program, "onTimer::WM_SKYPECONTROL_DISCOVER\n", 2)), 2)
                # Nothing is sent to a client that did not attach us.
                self.assertFalse([line for line in client.stdout if line.startswith("command ")])

    def test_no_posts_while_no_client_is_known(self):
        client = self.start_client("--attach", "none")
        self.start_program()
        client.expect(r"^discover ")
        self.send(client, "null", MOOD_PREFIX + b"anyone\0")
        self.send(client, "self", MOOD_PREFIX + b"not attached\0")
        self.settle(3)
        self.assertEqual(self.posts()[self.posts_before:], [])


if __name__ == "__main__":
    unittest.main()

"""The link on its own when things go wrong: authorisation pending, the
client quitting, the client hanging."""

import time
import unittest

from linkcase import PING, LinkCase

import harness

TIMER_LINE = "onTimer::WM_SKYPECONTROL_DISCOVER\n"


class Recovery(LinkCase):
    def test_pending_authorisation_pings_then_rediscovers(self):
        client = self.start_client("--attach", "1")
        program = self.start_program()
        replied, _ = client.expect(r"^replied \d+ 1$")
        # The PING on the 12th tick goes to no known window and fails: discovery on the 13th.
        again, _ = client.expect(r"^discover ", timeout=20)
        self.assertGreater(again - replied, 12.0)
        self.assertLess(again - replied, 14.5)
        self.assertFalse([line for line in client.stdout if line.startswith("command ")], "nothing sent")
        timer_lines = self.debug_lines(program, TIMER_LINE)
        self.assertTrue(timer_lines)
        self.assertGreater(timer_lines[0] - replied, 12.0)

    def test_pending_after_attach_keeps_the_client(self):
        client = self.start_client("--attach", "0")
        program = self.start_program()
        self.attach(client)
        client.send("reply 1")
        pending, _ = client.expect(r"^replied \d+ 1$")
        when, data = self.next_command(client, timeout=16)
        self.assertEqual(data, PING)
        self.assertAlmostEqual(when - pending, 12.0, delta=1.2)
        client.send("mood still here")
        self.assertEqual(self.new_posts(1), [b"status=still+here "])
        self.assertEqual(self.debug_lines(program, TIMER_LINE), [], "no rediscovery while PINGs succeed")

    def test_client_quits_and_comes_back(self):
        client = self.start_client("--attach", "0")
        program = self.start_program()
        self.attach(client)
        client.send("quit")
        client.expect(r"^bye$")
        client.wait()
        # The next PING fails, and discovery goes out every second.
        harness.wait_until(lambda: len(self.debug_lines(program, TIMER_LINE)) >= 3, timeout=20)
        ticks = self.debug_lines(program, TIMER_LINE)
        self.assertGreaterEqual(len(ticks), 3)
        self.assertTrue(all(0.7 < b - a < 1.3 for a, b in zip(ticks, ticks[1:])))

        back = self.start_client("--attach", "0")
        back.expect(r"^discover ", timeout=5)
        self.attach(back)
        back.send("mood back again")
        self.assertEqual(self.new_posts(1), [b"status=back+again "])

    def test_hung_client_does_not_stop_the_link(self):
        client = self.start_client("--attach", "0")
        program = self.start_program()
        replied = self.attach(client)
        time.sleep(max(0, replied + 8 - time.monotonic()))
        client.send("hang 14000")
        resumed, _ = client.expect(r"^resumed ", timeout=25)
        # The PING at about 12 s was given up after a few seconds and the link
        # went back to discovery while the client was still hung.
        ticks = [t for t in self.debug_lines(program, TIMER_LINE) if t < resumed]
        self.assertTrue(ticks, "discovery resumed while the client hung")
        self.assertLess(ticks[0] - replied, 19.5)
        # Once it answers again it attaches again.
        self.attach(client)
        client.send("mood awake")
        self.assertEqual(self.new_posts(1), [b"status=awake "])


if __name__ == "__main__":
    unittest.main()

"""The link on its own when things go wrong: authorisation pending, the
client quitting, the client hanging."""

import time
import unittest

from linkcase import PING, PROTOCOL, LinkCase

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
        timer_lines = self.wait_debug(program, TIMER_LINE)
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

    def test_attach_replies_in_any_order_end_attached(self):
        # Discovery goes unanswered: every reply is one the test sends.
        client = self.start_client("--attach", "none")
        program = self.start_program()
        client.expect(r"^discover ")
        client.send("reply 0")
        first, _ = client.expect(r"^replied \d+ 0$")
        self.assertEqual(self.next_command(client)[1], PROTOCOL)
        # Pending 8 s later: the keep-alive counts afresh from it, so no PING at 12 s.
        time.sleep(max(0, first + 8 - time.monotonic()))
        client.send("reply 1")
        pending, _ = client.expect(r"^replied \d+ 1$")
        time.sleep(max(0, pending + 8 - time.monotonic()))
        for status in ("2", "3", "0x8001"):
            client.send("reply " + status)
            client.expect(r"^replied \d+ %x$" % int(status, 0))
        self.settle(2.5)
        # Status 0 in its 32 bits: on the 64-bit build the upper half of lParam is not part of it.
        client.send("reply 0x100000000")
        last, _ = client.expect(r"^replied \d+ 100000000$")
        self.assertEqual(self.next_command(client)[1], PROTOCOL, "each 0 sends the protocol")
        ping, data = self.next_command(client, timeout=16)
        self.assertEqual(data, PING)
        self.assertGreaterEqual(ping - last, 10.8)
        self.assertLessEqual(ping - last, 13.2)
        self.assertEqual(len([line for line in client.stdout if line.startswith("command ")]), 3,
                         "PROTOCOL 5 twice and one PING: none from the earlier replies")
        attaches = [line for _, line in program.debug if line.startswith("WM_SKYPECONTROL_ATTACH")]
        self.assertEqual(attaches, ["WM_SKYPECONTROL_ATTACH: %s\n" % s for s in ("0", "1", "2", "3", "8001", "0")])
        ticks = self.debug_lines(program, TIMER_LINE)
        self.assertTrue([t for t in ticks if pending + 8 < t < last], "discovery while refused")
        self.assertEqual([t for t in ticks if t > last + 0.5], [], "none once attached again")
        client.send("mood attached again")
        self.assertEqual(self.new_posts(1), [b"status=attached+again "])

    def test_client_quits_and_comes_back(self):
        client = self.start_client("--attach", "0")
        program = self.start_program()
        self.attach(client)
        client.send("quit")
        client.expect(r"^bye$")
        client.wait()
        # The next PING fails, and discovery goes out every second.
        ticks = self.wait_debug(program, TIMER_LINE, 3, timeout=20)
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

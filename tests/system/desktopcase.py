"""Shared rig for the tests of what the user sees: every test gets a prefix of
its own whose programs run in one virtual desktop with a taskbar and a
notification area, the status service stand-in as proxy, and the program
installed with the settings it is given."""

import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "rig"))
import harness  # noqa: E402
from status_service import StatusService  # noqa: E402

OPTION = ("#32770", "Option")
MOOD = ("#32770", "Post a mood")
MAIN = ("Moodshuttle", "Moodshuttle")
WM_CLOSE = "0x10"
WM_COMMAND = "0x111"
IDM_SETTING = "1004"
IDOK, IDCANCEL = "1", "2"
ICON_ID = "1001"
IDC_USERNAME, IDC_PASSWORD = 4000, 4001
IDC_MOOD, IDC_MOOD_LEFT = 4002, 4003
WS_DISABLED = 0x08000000
ES_PASSWORD = 0x20

# The screen is 1024 x 768 with the taskbar along its bottom 20 rows; the one
# icon of the notification area sits at its right end.
TASKBAR_TOP = 748
ICON_SPOT = (1013, 758)
ICON_BOX = (990, 750, 1024, 767)  # left, top, right, bottom
BACKGROUND_SPOT = (700, 758)  # an empty stretch of the taskbar
MENU_ROW = 19  # the height of a menu item

SHOTS = os.path.join(harness.BUILD, "screenshots")


class DesktopCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = StatusService()
        cls.service.start()
        cls.addClassCleanup(cls.service.stop)

    def setUp(self):
        name = self.id().rsplit(".", 1)[-1][5:30]
        self.wine = harness.Wine(name, proxy_port=self.service.port, desktop=True)
        # Cleanups run even when a later step of a setUp fails, unlike tearDown.
        self.addCleanup(self.wine.close)
        self.folder = self.wine.folder("app")

    # The program and its files

    def install(self, settings=None, version=None):
        """Installs the program (with this settings text, or none); version is
        the Windows version Wine reports to it, such as "win2k"."""
        self.program = harness.install_program(self.folder, settings)
        self.ini = self.program[:-3] + "ini"
        if version:
            self.set_key(r"HKCU\Software\Wine\AppDefaults\Moodshuttle.exe", "Version", version)
        return self.program

    def set_key(self, key, name, value):
        added = self.wine.run(harness.REG, "add", key, "/v", name, "/d", value, "/f")
        self.assertEqual(added.returncode, 0, added.stderr[-500:])

    def start(self, relay=None):
        """Starts the program; relay names functions ("user32.Name;...") whose
        calls from the program Wine then traces on its stderr (see traced)."""
        if relay:
            self.set_key(r"HKCU\Software\Wine\Debug", "RelayInclude", relay)
            self.set_key(r"HKCU\Software\Wine\Debug", "RelayFromInclude", "Moodshuttle.exe")
        return self.wine.start(self.program, debug="+relay" if relay else None)

    @staticmethod
    def traced(program):
        """The traced calls and returns so far, in order: (kind, function, arguments as numbers)."""
        found = []
        for line in list(program.stderr):
            m = re.match(r"^\w+:(Call|Ret) +\w+\.(\w+)\(([\w,]*)\)", line)
            if m:
                found.append((m.group(1), m.group(2), [int(a, 16) for a in m.group(3).split(",") if a]))
        return found

    def start_client(self):
        client = self.wine.start(harness.exe("skype_standin.exe"), "--attach", "0", stdin=True)
        client.expect(r"^ready ")
        return client

    def start_with_client(self):
        """Starts the client stand-in and the program and waits until they are
        linked; returns (client, program)."""
        client = self.start_client()
        program = self.start()
        client.expect(r"^replied \d+ 0$")
        client.expect(r"^command ")
        self.assertIsNotNone(self.main_window())
        return client, program

    def settings(self):
        """The settings file's text, or None when there is none."""
        return harness.read_bytes(self.ini).decode("latin-1") if os.path.exists(self.ini) else None

    def stored(self, key):
        m = re.search(r"^%s=(.*?)\r?$" % key, self.settings() or "", re.M)
        return m.group(1) if m else None

    def credentials_posted(self, client, mood):
        """Has the client report a mood; returns the (user, password) its post carried."""
        before = len(self.service.requests())
        client.send("mood " + mood)
        self.service.wait_for(before + 1, timeout=20, authenticated=True)
        auth = [r for r in self.service.requests() if r["authorization"]][-1]
        self.assertEqual(auth["body"], ("status=%s " % mood).encode())
        return auth["user"], auth["password"]

    # Windows

    def probe(self, *args):
        return self.wine.probe(*args)

    def visible(self, cls, title, wait_ms=15000):
        return self.wine.visible(cls, title, wait_ms)

    def find(self, cls, title, wait_ms=15000):
        return self.wine.find(cls, title, wait_ms)

    def count(self, cls, title):
        return int(self.probe("count", cls, title)[1])

    def info(self, hwnd):
        code, out = self.probe("info", hwnd)
        self.assertEqual(code, 0, out)
        m = re.match(r"style (\w+) exstyle (\w+) rect (-?\d+) (-?\d+) (-?\d+) (-?\d+) texture (\w+) visible (\d) "
                     r"owner (\w+)", out)
        return {"style": int(m.group(1), 16), "rect": tuple(int(m.group(i)) for i in range(3, 7)),
                "texture": int(m.group(7), 16), "visible": m.group(8) == "1", "owner": int(m.group(9), 16)}

    def children(self, hwnd):
        """The child windows in order, as (class, rect, text)."""
        r = self.wine.run(harness.exe("probe.exe"), "children", hwnd)
        found = []
        for line in r.stdout.decode().splitlines():
            m = re.match(r"\w+ (\S+) rect (-?\d+) (-?\d+) (-?\d+) (-?\d+) visible \d text (\w*)", line)
            found.append((m.group(1), tuple(int(m.group(i)) for i in range(2, 6)), bytes.fromhex(m.group(6))))
        return found

    def main_window(self, wait_ms=15000):
        return self.find(*MAIN, wait_ms=wait_ms)

    def dialog(self, wait_ms=15000):
        return self.visible(*OPTION, wait_ms=wait_ms)

    def menu(self, wait_ms=5000):
        return self.visible("#32768", "-", wait_ms=wait_ms)

    def open_menu(self, button="1"):
        """Presses on the icon; returns the menu and its rectangle."""
        self.click(*ICON_SPOT, button=button)
        menu = self.menu()
        self.assertIsNotNone(menu, "a press on the icon opens the menu")
        return menu, self.info(menu)["rect"]

    def choose(self, rect, item):
        """Clicks the menu's item "mood" (the first), "setting" (the second)
        or "exit" (the last)."""
        left, top, right, bottom = rect
        # Under the menu's border, items of MENU_ROW rows each.
        y = {"mood": top + 11, "setting": top + 11 + MENU_ROW, "exit": bottom - 11}[item]
        self.click((left + right) // 2, y)

    def close_program(self, program):
        """Sends WM_CLOSE to the main window, as the system would; returns the exit code."""
        self.assertEqual(self.probe("post", self.main_window(), WM_CLOSE, "0", "0")[0], 0)
        return program.wait(timeout=20)

    # The screen

    def screen(self):
        """The screen as (width, rows of RGB bytes)."""
        data = subprocess.run([harness.IMPORT, "-window", "root", "-display", self.wine.env["DISPLAY"], "-depth", "8", "ppm:-"],
                              capture_output=True, check=True).stdout
        m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        width, height = int(m.group(1)), int(m.group(2))
        pixels = data[m.end():]
        return width, [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)]

    def icon_drawn(self):
        """Whether anything is drawn where the notification area's icon goes."""
        _, rows = self.screen()
        x, y = BACKGROUND_SPOT
        background = rows[y][x * 3:x * 3 + 3]
        left, top, right, bottom = ICON_BOX
        drawn = sum(rows[y][x * 3:x * 3 + 3] != background for y in range(top, bottom) for x in range(left, right))
        return drawn > 40  # a 16 x 16 icon, not a stray pixel

    def icon_is(self, shown):
        """Whether our icon is there (or wholly gone): the shell's list says
        so, and so do the pixels."""
        main = self.main_window(wait_ms=0)
        if (bool(main) and self.probe("hasicon", main, ICON_ID)[0] == 0) != shown:
            return False
        return self.icon_drawn() == shown

    def wait_icon(self, shown, timeout=10):
        return harness.wait_until(lambda: self.icon_is(shown), timeout)

    def wait_gone(self, hwnd, timeout=10):
        """Waits for a window to be destroyed."""
        return harness.wait_until(lambda: self.probe("info", hwnd)[0] != 0, timeout)

    def wait_count(self, cls, title, count, timeout=10):
        """Waits for exactly count visible windows of that class and title."""
        return harness.wait_until(lambda: self.count(cls, title) == count, timeout, step=0.1)

    def save_screenshot(self, name, crop=None):
        """Saves the screen (or the crop "WxH+X+Y" of it) as a PNG under the build folder."""
        os.makedirs(SHOTS, exist_ok=True)
        path = os.path.join(SHOTS, name)
        self.wine.screenshot(path)
        if crop:
            subprocess.run([harness.CONVERT, path, "-crop", crop, "+repage", path], check=True)
        return path

    def click(self, x, y, button="1", repeat=1):
        self.wine.xdotool("mousemove", str(x), str(y))
        time.sleep(0.3)
        self.wine.press_and_release(int(button), repeat)

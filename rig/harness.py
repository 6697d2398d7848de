"""Runs Windows programs of a build under Wine64, for the system tests, the
demo and the benchmarks. A 32-bit build runs in Wine's WoW64 mode, on the
32-bit Windows-side DLLs that scripts/setup unpacks into build/wow64.

Every user gets a Wine prefix of its own, made from one template prefix by
hard links (a new prefix takes seconds to boot, a linked copy none), its own
wineserver, and an Xvfb display where it needs one. Everything started here is
stopped again by close(), even when a step of starting or stopping fails."""

import fcntl
import os
import queue
import re
import shutil
import signal
import subprocess
import threading
import time

# Where Debian's packages put them; nothing here relies on PATH.
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
XVFB = "/usr/bin/Xvfb"
XDOTOOL = "/usr/bin/xdotool"
IMPORT = "/usr/bin/import"
CONVERT = "/usr/bin/convert"

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.abspath(os.environ.get("MOODSHUTTLE_BUILD", os.path.join(ROOT, "build", "x64")))
# Wine's DLL folders with the 32-bit Windows side added (scripts/setup).
WOW64_DLLS = os.path.join(ROOT, "build", "wow64", "wine")

# Wine escapes the debug string it prints; these undo what our lines can hold.
DEBUG_LINE = re.compile(r'OutputDebugStringA "(.*)"\s*$')


def exe(name):
    return os.path.join(BUILD, name)


def wait_until(condition, timeout=10, step=0.2):
    """Polls condition until it holds or timeout seconds have passed;
    returns whether it held."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(step)
    return True


def wine_env(prefix, **extra):
    """The environment for Wine programs of one prefix: no proxy, no display
    and no debug output unless asked for, the 32-bit DLLs where they are."""
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    for key in ("http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "DISPLAY", "WINEDLLPATH"):
        env.pop(key, None)
    if os.path.isdir(WOW64_DLLS):
        env["WINEDLLPATH"] = WOW64_DLLS
    env.update(extra)
    return env


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _template_prefix():
    root = os.path.join(BUILD, "wine")
    os.makedirs(root, exist_ok=True)
    template = os.path.join(root, "template")
    with open(os.path.join(root, "template.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        done = os.path.join(template, ".done")
        # A template made before the 32-bit DLLs were there has no syswow64: made again.
        made_for = WOW64_DLLS if os.path.isdir(WOW64_DLLS) else ""
        if read_text(done) != made_for:
            shutil.rmtree(template, ignore_errors=True)
            env = wine_env(template)
            quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                # With the 32-bit DLLs in reach, this also fills the prefix's syswow64.
                subprocess.run([WINE, "wineboot", "--init"], check=True, timeout=300, **quiet)
                # A crash ends the program with a backtrace on stderr, not in a
                # dialog that would keep it alive until a test times out.
                subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
                                "/t", "REG_DWORD", "/d", "0", "/f"], check=True, timeout=120, **quiet)
            finally:
                subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
            with open(done, "w") as f:
                f.write(made_for)
    return template


def new_prefix(name):
    """A fresh prefix under the build folder, linked from the template; the
    registry files are copied, since the wineserver rewrites them."""
    template = _template_prefix()
    path = os.path.join(BUILD, "wine", "run", "%s-%d" % (name, os.getpid()))
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["cp", "-al", template, path], check=True)
    for reg in ("system.reg", "user.reg", "userdef.reg"):
        os.unlink(os.path.join(path, reg))
        shutil.copy2(os.path.join(template, reg), os.path.join(path, reg))
    return path


class Xvfb:
    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen([XVFB, "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r, "rb") as f:
            number = f.readline().strip()
        if not number.isdigit():
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)


class Process:
    """A Windows program under Wine, with its output read line by line in the
    background: stdout lines and the debug-output lines, each with the time it
    was seen."""

    def __init__(self, argv, env, cwd=None, stdin=False):
        self.proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        self.lines = queue.Queue()
        self.stdout = []
        self.debug = []  # (time, text)
        self.stderr = []
        self._threads = [threading.Thread(target=self._read_stdout, daemon=True),
                         threading.Thread(target=self._read_stderr, daemon=True)]
        for t in self._threads:
            t.start()

    def _read_stdout(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            self.stdout.append(line)
            self.lines.put((time.monotonic(), line))

    def _read_stderr(self):
        for raw in self.proc.stderr:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            self.stderr.append(line)
            m = DEBUG_LINE.search(line)
            if m and "debugstr" in line:
                self.debug.append((time.monotonic(), m.group(1).replace("\\n", "\n")))

    def send(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def expect(self, pattern, timeout=20):
        """Waits for the next stdout line matching pattern (earlier lines that
        do not match are passed over); returns (time, match) or raises."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no line matching %r within %ss; seen: %r" % (pattern, timeout, self.stdout[-20:]))
            try:
                when, line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            m = regex.search(line)
            if m:
                return when, m

    def drain(self):
        """Passes over every line seen so far."""
        while True:
            try:
                self.lines.get_nowait()
            except queue.Empty:
                return

    def wait(self, timeout=20):
        return self.proc.wait(timeout=timeout)

    def kill(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait(timeout=10)
        for t in self._threads:
            t.join(timeout=5)
        # A pipe a reader still blocks on cannot be closed without waiting for
        # it; such a reader ends when the last holder of the pipe does.
        if self.proc.stdin:
            self.proc.stdin.close()
        for pipe, reader in zip((self.proc.stdout, self.proc.stderr), self._threads):
            if not reader.is_alive():
                pipe.close()


class Wine:
    """One prefix with its wineserver (and a display, when asked for)."""

    def __init__(self, name, display=True, proxy_port=None, desktop=False):
        self.prefix = new_prefix(name)
        self.xvfb = None
        self.processes = []
        self.desktop = None
        self.env = wine_env(self.prefix, WINEDEBUG="-all,+debugstr")
        if proxy_port:
            self.env["http_proxy"] = "http://127.0.0.1:%d" % proxy_port
        try:
            self._start(display, desktop)
        except BaseException:  # interrupted half way: stop what did start
            self.close()
            raise

    def _start(self, display, desktop):
        if display:
            self.xvfb = Xvfb()
            self.env["DISPLAY"] = self.xvfb.display
        # The wineserver and the system's own processes would inherit the
        # output pipes of whichever program started first and hold them open
        # after it ended; start them here, with no pipes of ours.
        subprocess.run([WINESERVER, "-p"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        subprocess.run([WINE, "wineboot"], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=120)
        if desktop:
            # Every program of this prefix runs in one virtual desktop named
            # "shell", which Wine gives a taskbar with a notification area.
            for key, name, value in ((r"HKCU\Software\Wine\Explorer", "Desktop", "shell"),
                                     (r"HKCU\Software\Wine\Explorer\Desktops", "shell", "1024x768")):
                self.run("reg", "add", key, "/v", name, "/d", value, "/f")
            # Brought up before any test program: two programs racing to
            # start the same desktop can hang each other.
            self.desktop = subprocess.Popen([WINE, "explorer.exe", "/desktop=shell,1024x768"], env=self.env,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
            if self.probe("find", "Shell_TrayWnd", "-", "30000")[0] != 0:
                raise RuntimeError("the desktop did not come up")

    def probe(self, *args):
        """Runs the window probe; (exit code, first line of its output)."""
        r = self.run(exe("probe.exe"), *args)
        return r.returncode, r.stdout.decode(errors="replace").strip()

    def find(self, cls, title, wait_ms=15000):
        """A top-level window, hidden or not, by class and title ("-" for any); None if none came."""
        code, hwnd = self.probe("find", cls, title, str(wait_ms))
        return hwnd if code == 0 else None

    def visible(self, cls, title, wait_ms=15000):
        """The first visible top-level window of that class and title; None if none came."""
        code, hwnd = self.probe("visible", cls, title, str(wait_ms))
        return hwnd if code == 0 else None

    def item(self, dialog, ident):
        """(style, text bytes) of a dialog item, or None."""
        code, out = self.probe("item", dialog, str(ident))
        m = re.match(r"style (\w+) text ?(\w*)$", out)
        return (int(m.group(1), 16), bytes.fromhex(m.group(2))) if code == 0 and m else None

    def screenshot(self, path):
        subprocess.run([IMPORT, "-window", "root", "-display", self.env["DISPLAY"], path], check=True)

    def xdotool(self, *args):
        subprocess.run([XDOTOOL] + list(args), env=self.env, check=True)

    def folder(self, name):
        """A folder of this test's own, for programs and their files."""
        path = os.path.join(self.prefix + "-files", name)
        os.makedirs(path, exist_ok=True)
        return path

    def start(self, program, *args, cwd=None, stdin=False):
        p = Process([WINE, program] + list(args), self.env, cwd=cwd, stdin=stdin)
        self.processes.append(p)
        return p

    def run(self, program, *args, timeout=60):
        return subprocess.run([WINE, program] + list(args), env=self.env, capture_output=True, timeout=timeout)

    def close(self):
        """Stops everything this prefix started. Every step runs even when an
        earlier one fails; the first failure is raised at the end."""
        steps = [p.kill for p in self.processes] + [
            lambda: subprocess.run([WINESERVER, "-k"], env=self.env, stderr=subprocess.DEVNULL, timeout=30),
            lambda: subprocess.run([WINESERVER, "-w"], env=self.env, stderr=subprocess.DEVNULL, timeout=60),
            self._stop_desktop,
            lambda: self.xvfb and self.xvfb.close(),
            lambda: shutil.rmtree(self.prefix, ignore_errors=True),
            lambda: shutil.rmtree(self.prefix + "-files", ignore_errors=True),
        ]
        run_all(steps)

    def _stop_desktop(self):
        if self.desktop and self.desktop.poll() is None:
            try:
                self.desktop.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.desktop.kill()
                self.desktop.wait(timeout=10)


def build_is_32bit():
    """Whether the build under test is the 32-bit one (its PE machine field)."""
    with open(exe("Moodshuttle.exe"), "rb") as f:
        image = f.read(4096)
    header = int.from_bytes(image[0x3C:0x40], "little")
    return image[header + 4:header + 6] == b"\x4c\x01"


_drawing_fault = {}


def drawing_fault(wine):
    """None when a program of this build can draw in its own windows and put
    text into its own edit boxes under this Wine; otherwise why not, for a
    skip message. Only the 32-bit build is ever checked: the 64-bit build must
    simply work."""
    if not build_is_32bit():
        return None
    if "fault" not in _drawing_fault:
        r = wine.run(exe("edit_text_check.exe"), timeout=120)
        _drawing_fault["fault"] = None if r.returncode == 0 else (
            "platform fault, 32-bit build only: this Wine's WoW64 mode gives 32-bit code no usable device "
            "context, so the program cannot draw its icon, menu items or dialog texts, and text put into "
            "an edit box crashes it (tests/system/edit_text_check.cpp ended with %d)" % r.returncode)
    return _drawing_fault["fault"]


# Wine's loader mangles such a path when it restarts itself for a 32-bit program.
LONG_PATH_FAULT = ("platform fault, 32-bit build only: this Wine's WoW64 mode cannot start a 32-bit program "
                   "from a path longer than 260 bytes (CreateProcess reports the file as not found)")


def run_all(steps):
    """Runs every step; raises the first failure after the last step."""
    first = None
    for step in steps:
        try:
            step()
        except BaseException as e:  # noqa: B902 -- a stop must not skip the rest
            first = first or e
    if first:
        raise first


def install_program(folder, settings=None, name="Moodshuttle.exe"):
    """Copies the program into folder under `name`; writes the settings file
    beside it when settings (the file's text) is given. Returns the path."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    shutil.copy(exe("Moodshuttle.exe"), path)
    if settings is not None:
        with open(path[:-3] + "ini", "w", newline="") as f:
            f.write(settings)
    return path


def settings_text(username, password):
    return "[Moodshuttle]\r\nusername=%s\r\npassword=%s\r\n" % (username, password)


def read_text(path):
    """A file's text, or None when there is none."""
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return None


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


MOOD_PREFIX = b"PROFILE MOOD_TEXT "

"""Runs Windows programs of a build under Wine64, for the system tests, the
demo and the benchmarks. A 32-bit build runs under Wine's own 32-bit loader,
natively or through QEMU's emulator, whichever way this machine runs i386
programs (i386_way.py); where it runs none, or Wine's 32-bit loader could not
be installed, its cases are skipped with the reason (ways.py).

Every user gets a Wine prefix of its own, made from a template prefix by hard
links (a new prefix takes seconds to boot, a linked copy none), its own
wineserver, and an Xvfb display where it needs one. Settings every prefix of a
kind needs are made once, in its template. Everything started here is stopped
again by close(), even when a step of starting or stopping fails.

No step waits on a pipe: Wine starts its system processes (services,
explorer and the rest) from whichever program needs them first, and they
inherit that program's output. So they are started first, with no pipes of
ours, and programs run to completion write their output to files, so that
only the program's own end is waited for."""

import collections
import ctypes
import fcntl
import os
import queue
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

import i386_way
import ways

# Where Debian's packages put them; nothing here relies on PATH.
WINE = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"  # Wine's own 32-bit loader (wine32:i386)
WINESERVER = "/usr/lib/wine/wineserver"
SETARCH = "/usr/bin/setarch"
XVFB = "/usr/bin/Xvfb"
XDOTOOL = "/usr/bin/xdotool"
IMPORT = "/usr/bin/import"
CONVERT = "/usr/bin/convert"
DMESG = "/usr/bin/dmesg"
LIBX11 = "/usr/lib/x86_64-linux-gnu/libX11.so.6"
LIBXTST = "/usr/lib/x86_64-linux-gnu/libXtst.so.6"
# Wine's own programs go by their full paths: a bare name is handed to
# start.exe, which starts the program as a second process.
WINEBOOT = r"C:\windows\system32\wineboot.exe"
REG = r"C:\windows\system32\reg.exe"

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.abspath(os.environ.get("MOODSHUTTLE_BUILD", os.path.join(ROOT, "build", "x64")))
# The i386 program that tells how this machine runs 32-bit code (scripts/setup).
PROBE_32BIT = os.path.join(ROOT, "build", "runs-i386")
_way_32bit = []


def way_32bit():
    """How this machine runs the 32-bit build, asked once per process:
    ("native", probe), ("emulator", the emulator's path) or ("none", why)."""
    if not _way_32bit:
        os.makedirs(os.path.dirname(PROBE_32BIT), exist_ok=True)
        _way_32bit.append(ways.way_32bit(PROBE_32BIT))
    return _way_32bit[0]


def emulated(loader):
    """Whether the kernel ran a Wine loader as the program `loader` (its
    /proc/PID/exe) through an emulator, not as the loader itself."""
    return loader != os.path.realpath(WINE32)


def loader_way(loader):
    """In words, how a 32-bit build ran whose Wine loader the kernel ran as
    the program `loader`."""
    if not emulated(loader):
        return "natively, under Wine's own 32-bit loader (wine32:i386)"
    return "through the emulator %s, under Wine's own 32-bit loader (wine32:i386)" % i386_way.emulator_name(loader)


# The program each prefix of a 32-bit build ran its Wine loader as, one line a
# prefix, in the build's wine folder: what scripts/test reports.
LOADERS_SEEN = "loaders-seen"
loaders_seen = []


def ran_32bit(loaders):
    """In words, how the 32-bit build ran in prefixes whose loaders ran as
    these programs."""
    counts = collections.Counter(loaders)
    if len(counts) == 1:
        (loader, n), = counts.items()
        return "%s, in %s" % (loader_way(loader), "each of its %d Wine prefixes" % n if n > 1 else "its one Wine prefix")
    return "; ".join("%s, in %d Wine prefix%s" % (loader_way(loader), n, "es" if n > 1 else "")
                     for loader, n in counts.most_common())

# Wine escapes the debug string it prints; these undo what our lines can hold.
DEBUG_LINE = re.compile(r'OutputDebugStringA "(.*)"\s*$')


def exe(name):
    return os.path.join(BUILD, name)


def is_32bit(path):
    """Whether the file is a 32-bit x86 Windows program (its PE machine field)."""
    try:
        with open(path, "rb") as f:
            image = f.read(4096)
    except OSError:
        return False
    header = int.from_bytes(image[0x3C:0x40], "little")
    return image[:2] == b"MZ" and image[header + 4:header + 6] == b"\x4c\x01"


def wine_command(loader, *args):
    """A Wine command line with the address space laid out the same every
    time. Debian's Wine64 comes without the preloader that would keep the low
    2 GiB free, and the kernel starts a 64-bit program's heap anywhere in the
    GiB above its loader (0x7d000000): about one start in 7,700 the heap
    covers the page at 0x7ffe0000 that every Wine process maps first, and it
    ends at once with 1 ("failed to map the shared user data", an error
    message that WINEDEBUG=-all hides). Its children inherit the setting."""
    return [SETARCH, "--addr-no-randomize", loader] + list(args)


def command(program, *args):
    """The command line that runs a Windows program. A 32-bit one goes
    straight to the 32-bit loader: handed over by Wine64 instead, it could
    not be started from a path longer than 260 bytes."""
    return wine_command(WINE32 if is_32bit(program) else WINE, program, *args)


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
    and no debug output unless asked for, and one UTF-8 locale whatever the
    caller's (Wine needs a UTF-8 one to reach folders named outside ASCII;
    its ANSI code page is then 1252)."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_")}
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8")
    for key in ("http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "DISPLAY", "WINEDLLPATH", "LANGUAGE"):
        env.pop(key, None)
    env.update(extra)
    return env


def prefix_processes(prefix):
    """The Linux processes of one prefix, one line each: pid, state, what it
    waits in, command line."""
    lines = []
    for pid in sorted((p for p in os.listdir("/proc") if p.isdigit()), key=int):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("WINEPREFIX=" + prefix).encode() not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
            with open("/proc/%s/wchan" % pid) as f:
                wchan = f.read() or "-"
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
        except OSError:
            continue
        lines.append("%s %s %s %s" % (pid, state, wchan, command))
    return "\n".join(lines) or "(none)"


def kernel_reports():
    """The kernel's last reports of programs it ended (a crash or a kill
    leaves nothing in a program's own output), for failure messages."""
    try:
        log = subprocess.run([DMESG], capture_output=True, timeout=10).stdout.decode(errors="replace")
    except (OSError, subprocess.TimeoutExpired):
        return "(the kernel's log cannot be read)"
    lines = [line for line in log.splitlines() if re.search(r"segfault|trap|[Kk]illed", line)]
    return "\n".join(lines[-5:]) or "(none)"


def run_to_end(argv, env, timeout, cwd=None):
    """Runs a program to its end with its output in files, not pipes, so that
    a process it starts and that outlives it cannot hold the wait up. Returns
    a CompletedProcess. One that has not ended in time is killed, and the
    error says what every process of the prefix was doing then."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                start_new_session=True)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            processes = prefix_processes(env["WINEPREFIX"])
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            out.seek(0)
            err.seek(0)
            raise RuntimeError("%s had not ended after %s s; its output %r, errors %r; the prefix's processes "
                               "then (pid, state, waiting in, command):\n%s"
                               % (" ".join(argv), timeout, out.read()[-2000:], err.read()[-2000:], processes))
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(argv, proc.returncode, out.read(), err.read())


def run_checked(argv, env, timeout):
    """run_to_end, and a failure is an error carrying the program's output."""
    r = run_to_end(argv, env, timeout)
    if r.returncode != 0:
        raise RuntimeError("%s ended with %d: %r %r; the kernel's reports of ended programs:\n%s"
                           % (" ".join(argv), r.returncode, r.stdout[-2000:], r.stderr[-2000:], kernel_reports()))
    return r


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# Settings of every prefix: a crash ends the program with a backtrace on
# stderr, not in a dialog that would keep it alive until a test times out.
PLAIN_SETTINGS = [(r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0")]
# And of prefixes with a desktop: every program runs in one virtual desktop
# named "shell", which Wine gives a taskbar with a notification area.
DESKTOP_SETTINGS = PLAIN_SETTINGS + [(r"HKCU\Software\Wine\Explorer", "Desktop", "REG_SZ", "shell"),
                                     (r"HKCU\Software\Wine\Explorer\Desktops", "shell", "REG_SZ", "1024x768")]


def _template_prefix(desktop):
    """The template for prefixes with a desktop or without, made once per
    build folder."""
    root = os.path.join(BUILD, "wine")
    os.makedirs(root, exist_ok=True)
    template = os.path.join(root, "template-desktop" if desktop else "template")
    with open(os.path.join(root, "template.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        done = os.path.join(template, ".done")
        made_for = "loader"  # one made for an earlier way of running 32-bit programs is made anew
        if read_text(done) != made_for:
            shutil.rmtree(template, ignore_errors=True)
            env = wine_env(template)
            try:
                run_checked(wine_command(WINE, WINEBOOT, "--init"), env, 300)
                for key, name, kind, value in DESKTOP_SETTINGS if desktop else PLAIN_SETTINGS:
                    run_checked(wine_command(WINE, REG, "add", key, "/v", name, "/t", kind, "/d", value, "/f"), env, 120)
            finally:
                run_to_end([WINESERVER, "-w"], env, 120)
            with open(done, "w") as f:
                f.write(made_for)
    return template


def new_prefix(name, desktop=False):
    """A fresh prefix under the build folder, linked from the template; the
    registry files are copied, since the wineserver rewrites them."""
    template = _template_prefix(desktop)
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
        if build_is_32bit() and way_32bit()[0] == "none":
            raise unittest.SkipTest(ways.NOT_RUN_32BIT % way_32bit()[1])
        self.prefix = new_prefix(name, desktop)
        self.xvfb = None
        self.processes = []
        self.keeper = None
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
        # The wineserver stays until close(), and with it the system processes
        # that the first program of a prefix starts (services, the desktop
        # process and the rest). That first program is the keeper: Wine's
        # desktop process ends a second after the last program that uses the
        # desktop, and the next program to need it starts it again, handing
        # it its own output. So the keeper uses the desktop for as long as the
        # prefix lives, and it and everything it starts write to files, never
        # to pipes of ours. In a prefix with a desktop, that desktop is the one
        # with the taskbar. Wine's errors go to a file that a failure shows.
        run_checked([WINESERVER, "-p"], self.env, 30)
        self.keeper_output = tempfile.TemporaryFile()
        self.keeper_errors = tempfile.TemporaryFile()
        self.keeper = subprocess.Popen(command(exe("probe.exe"), "hold"),
                                       env=dict(self.env, WINEDEBUG="-all,err+all"),
                                       stdin=subprocess.DEVNULL, stdout=self.keeper_output,
                                       stderr=self.keeper_errors, start_new_session=True)
        wait_until(lambda: self._keeping() or self.keeper.poll() is not None, timeout=120, step=0.05)
        if not self._keeping():
            self.keeper_errors.seek(0)
            state = ("ended with %d" % self.keeper.returncode if self.keeper.poll() is not None
                     else "still waited after 120 s")
            raise RuntimeError("the prefix did not come up (the keeper %s); Wine's errors: %r; the prefix's "
                               "processes:\n%s\nthe kernel's reports of ended programs:\n%s"
                               % (state, self.keeper_errors.read()[-3000:], prefix_processes(self.prefix),
                                  kernel_reports()))
        if build_is_32bit():
            self._record_loader()
        if desktop and self.probe("find", "Shell_TrayWnd", "-", "30000")[0] != 0:
            raise RuntimeError("the desktop's taskbar did not come within 30 s; the prefix's processes:\n%s"
                               % prefix_processes(self.prefix))

    def _record_loader(self):
        """Notes the program the kernel runs the keeper's Wine loader as: the
        loader itself, or an emulator. Each prefix checks, so a report can say
        how every one ran, whatever changed on the machine meanwhile."""
        loader = os.readlink("/proc/%d/exe" % self.keeper.pid)
        loaders_seen.append(loader)
        with open(os.path.join(BUILD, "wine", LOADERS_SEEN), "a") as f:
            f.write(loader + "\n")

    def _keeping(self):
        self.keeper_output.seek(0)
        return self.keeper_output.read().startswith(b"holding")

    def probe(self, *args):
        """Runs the window probe; (exit code, first line of its output). A probe
        that ended without a word never got to ask: Wine could not start it,
        and says why among its errors. That is an error, not an answer."""
        r = run_to_end(command(exe("probe.exe"), *args), dict(self.env, WINEDEBUG="-all,err+all"), 60)
        if r.returncode != 0 and not r.stdout.strip():
            raise RuntimeError("the probe (%s) ended with %d: %r; the kernel's reports of ended programs:\n%s"
                               % (" ".join(args), r.returncode, r.stderr[-2000:], kernel_reports()))
        return r.returncode, r.stdout.decode(errors="replace").strip()

    def find(self, cls, title, wait_ms=15000):
        """A top-level window, hidden or not, by class and title ("-" for any); None if none came."""
        code, hwnd = self.probe("find", cls, title, str(wait_ms))
        return hwnd if code == 0 else None

    def visible(self, cls, title, wait_ms=15000):
        """The first visible top-level window of that class and title; None if none came."""
        code, hwnd = self.probe("visible", cls, title, str(wait_ms))
        return hwnd if code == 0 else None

    def notice(self, wait_ms=15000):
        """(hwnd, text) of a message box of the program's, or None if none came."""
        box = self.visible("#32770", "Moodshuttle", wait_ms)
        return box and (box, self.item(box, 0xFFFF)[1].decode())

    def item(self, dialog, ident):
        """(style, text bytes, in UTF-8) of a dialog item, or None."""
        code, out = self.probe("item", dialog, str(ident))
        m = re.match(r"style (\w+) text ?(\w*)$", out)
        return (int(m.group(1), 16), bytes.fromhex(m.group(2))) if code == 0 and m else None

    def screenshot(self, path):
        subprocess.run([IMPORT, "-window", "root", "-display", self.env["DISPLAY"], path], check=True)

    def xdotool(self, *args):
        subprocess.run([XDOTOOL] + list(args), env=self.env, check=True)

    def press_and_release(self, button, repeat=1, gap=0.12):
        """Clicks where the pointer is, each press and its release in one write
        to the display. xdotool's click lets 12 ms or more pass between them,
        and a menu that opens on the press within that time is refused Wine's
        pointer grab, since the press's own grab still holds; a later click
        elsewhere then never reaches the menu."""
        x11, xtst = ctypes.CDLL(LIBX11), ctypes.CDLL(LIBXTST)
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        display = x11.XOpenDisplay(self.env["DISPLAY"].encode())
        if not display:
            raise RuntimeError("cannot open the display " + self.env["DISPLAY"])
        try:
            for i in range(repeat):
                if i:
                    time.sleep(gap)
                if not (xtst.XTestFakeButtonEvent(display, button, 1, 0)
                        and xtst.XTestFakeButtonEvent(display, button, 0, 0)):
                    raise RuntimeError("the display refused a fake click")
                x11.XSync(display, 0)
        finally:
            x11.XCloseDisplay(display)

    def folder(self, name):
        """A folder of this test's own, for programs and their files."""
        path = os.path.join(self.prefix + "-files", name)
        os.makedirs(path, exist_ok=True)
        return path

    def start(self, program, *args, cwd=None, stdin=False, debug=None, proxy=True, env=None):
        """Starts a program; debug adds Wine debug channels for it alone,
        proxy=False lets it reach servers straight, not through the proxy,
        and env adds or replaces variables for it alone (LANG, say)."""
        env = dict(self.env, **(env or {}))
        if debug:
            env["WINEDEBUG"] = self.env["WINEDEBUG"] + "," + debug
        if not proxy:
            env.pop("http_proxy", None)
        p = Process(command(program, *args), env, cwd=cwd, stdin=stdin)
        self.processes.append(p)
        return p

    def run(self, program, *args, timeout=60):
        """Runs a program to its end; a CompletedProcess with its output."""
        return run_to_end(command(program, *args), self.env, timeout)

    def close(self):
        """Stops everything this prefix started. Every step runs even when an
        earlier one fails; the first failure is raised at the end."""
        steps = [p.kill for p in self.processes] + [
            lambda: run_to_end([WINESERVER, "-k"], self.env, 30),
            lambda: run_to_end([WINESERVER, "-w"], self.env, 60),
            self._stop_keeper,
            lambda: self.xvfb and self.xvfb.close(),
            lambda: shutil.rmtree(self.prefix, ignore_errors=True),
            lambda: shutil.rmtree(self.prefix + "-files", ignore_errors=True),
        ]
        run_all(steps)

    def _stop_keeper(self):
        if self.keeper:
            if self.keeper.poll() is None:
                os.killpg(self.keeper.pid, signal.SIGKILL)
            self.keeper.wait(timeout=10)
            self.keeper_output.close()
            self.keeper_errors.close()


def build_is_32bit():
    """Whether the build under test is the 32-bit one."""
    return is_32bit(exe("Moodshuttle.exe"))


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

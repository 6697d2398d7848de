"""Benchmarks of the real program under Wine, on both builds, each figure
beside a baseline measured in the same run on the same Wine. Prints one
table, the machine and the date, and `goals met: N of M` last.

The programs run in one Wine prefix per build with the chat client stand-in;
the status service is the rig's stand-in (latency, SendMessage) or nginx with
auth_basic (burst, soak), reached as the HTTP proxy, and for the latency over
https, nginx with TLS in front of the stand-in, reached straight at the
address the settings name. The 32-bit build runs as
the tests run it (rig/harness.py): under Wine's 32-bit loader, natively or
through QEMU's emulator; through the emulator its figures are no Windows
figures, but each ratio holds, its baseline running the same way. The
baselines are in
bench/: bare_post (the identical request, one thread per mood, started by
the same WM_COPYDATA from the same client) and minimal_window (a window that
only returns 1, with or without a 1-second timer).

Clocks: the client stamps each mood with QueryPerformanceCounter just before
its SendMessage. Wine's counter is CLOCK_MONOTONIC_RAW (checked every run,
and the run stops if it is not), the service stamps with CLOCK_MONOTONIC, so
each stamp is moved by the gap between the two clocks, read beside it."""

import argparse
import datetime
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "rig"))
import harness  # noqa: E402
import tls  # noqa: E402
import ways  # noqa: E402
from pds import Pds  # noqa: E402
from status_service import StatusService  # noqa: E402

NGINX = "/usr/sbin/nginx"
HTPASSWD = "/usr/bin/htpasswd"
BUILDS = ("x64", "x86")
USERNAME, PASSWORD = "bench", "b3nch-secret"
# The burst to several accounts: the first section's and two further ones,
# each a user of its own at the same nginx.
ACCOUNTS = (USERNAME, USERNAME + "2", USERNAME + "3")
DISCOVERY_LINE = "onCreate::WM_SKYPECONTROL_DISCOVER\n"
FIRST_WINDOW_LINE = "minimal_window::WM_CREATE\n"
SHIPPED_LIMIT = 80 * 1024
SIZE_ROW = "size of the shipped executable"
# The groups of rows, in the order they run; --only picks some.
GROUPS = ("size", "idle", "latency", "sendmessage", "https", "bluesky", "start", "burst", "soak")

FULL = dict(latency=200, sendmessage=1000, idle=60, starts=10, burst=2000, soak=10000, rate=20, settle=120)
QUICK = dict(latency=40, sendmessage=100, idle=20, starts=4, burst=2000, soak=400, rate=20, settle=75)


def log(text):
    print("[%s] %s" % (time.strftime("%H:%M:%S"), text), file=sys.stderr, flush=True)


# ---- figures --------------------------------------------------------------

def median(values):
    return statistics.median(values) if values else float("nan")


def percentile(values, q):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[max(0, min(len(ordered) - 1, int(q / 100 * len(ordered) + 0.5) - 1))]


def p99(values):
    return percentile(values, 99)


# A tail figure gets a goal only where at least this many samples of each side
# lie beyond it, so that no stray sample or two decides its verdict.
SAMPLES_BEYOND_A_TAIL = 10


def goal_tail(samples):
    """The highest of p99, p95 and p90 that `samples` samples support."""
    return next((q for q in (99, 95, 90) if samples * (100 - q) / 100 >= SAMPLES_BEYOND_A_TAIL), None)


class Table:
    def __init__(self):
        self.rows = []

    def ratio(self, build, figure, value, baseline, unit, limit, goal=None):
        """A figure beside its baseline; met when value <= limit x baseline."""
        ratio = value / baseline if baseline else float("inf")
        met = None if limit is None else ratio <= limit
        self.rows.append((build, figure, fmt(value, unit), fmt(baseline, unit), "%.2f" % ratio,
                          goal or ("<= %.2f x baseline" % limit if limit else "-"), met))

    def plain(self, build, figure, value, baseline, goal, met):
        self.rows.append((build, figure, value, baseline, "-", goal, met))

    def print(self, out):
        head = ("build", "figure", "value", "baseline", "ratio", "goal", "result")
        rows = [r[:6] + ({True: "met", False: "not met", None: "-"}[r[6]],) for r in self.rows]
        widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(7)]
        for r in [head] + rows:
            out.write("  ".join(str(c).ljust(w) for c, w in zip(r, widths)).rstrip() + "\n")

    def score(self):
        goals = [r[6] for r in self.rows if r[6] is not None]
        return sum(goals), len(goals)


def fmt(value, unit):
    if value != value:  # nan: no samples
        return "none"
    if unit == "ms":
        return "%.2f ms" % (value * 1e3)
    if unit == "us":
        return "%.0f us" % (value * 1e6)
    if unit == "cpu":
        return "%.1f ms" % (value * 1e3)
    if unit == "s":
        return "%.3f s" % value
    return str(value)


# ---- clocks ---------------------------------------------------------------

def raw_now():
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


def raw_to_monotonic(raw):
    """A CLOCK_MONOTONIC_RAW time on CLOCK_MONOTONIC, by the gap between the
    two read now (they drift apart by parts per million)."""
    before = time.monotonic()
    r = raw_now()
    after = time.monotonic()
    return raw + (before + after) / 2 - r


def check_counter(client):
    """Makes sure the client's performance counter is CLOCK_MONOTONIC_RAW:
    each of a few stamps must fall between two raw readings around it."""
    for _ in range(10):
        before = raw_now()
        client.send("clock")
        _, m = client.expect(r"^clock (\d+)$")
        after = raw_now()
        stamp = int(m.group(1)) / 1e6
        if not before - 1e-6 <= stamp <= after + 1e-6:
            raise RuntimeError("Wine's performance counter is not CLOCK_MONOTONIC_RAW here: %.6f outside "
                               "[%.6f, %.6f]" % (stamp, before, after))


# ---- processes ------------------------------------------------------------

def proc_status(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            name, _, value = line.partition(":")
            fields[name] = value.strip()
    return {"rss": int(fields["VmRSS"].split()[0]) * 1024, "threads": int(fields["Threads"]),
            "vm": int(fields["VmSize"].split()[0]) * 1024}


def cpu_seconds(pid):
    """Time on the CPU of every thread of the process, from the scheduler's
    nanosecond counts (the tick counts of /proc/PID/stat are 10 ms coarse)."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total / 1e9


def handle_counts(wine, *windows):
    """Open Windows handles of each window's process, from the system's
    handle table (this Wine answers GetProcessHandleCount with 0)."""
    r = wine.run(harness.exe("handle_count.exe"), *windows)
    counts = {}
    for line in r.stdout.decode().splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] != "failed":
            counts[parts[0]] = int(parts[2])
    if len(counts) != len(windows):
        raise RuntimeError("handle_count: %r %r" % (r.stdout, r.stderr))
    return [counts[w] for w in windows]


def usage_of(wine, process, window):
    figures = proc_status(process.linux_pid)
    figures["handles"] = handle_counts(wine, window)[0]
    return figures


class Rig:
    """One build's prefix, its programs and the client."""

    def __init__(self, name, proxy_port):
        self.wine = harness.Wine("bench-" + name, proxy_port=proxy_port)
        self.program_path = harness.install_program(self.wine.folder("app"), harness.settings_text(USERNAME, PASSWORD))

    def proxy(self, port):
        self.wine.env["http_proxy"] = "http://127.0.0.1:%d" % port

    def client(self):
        client = self.wine.start(harness.exe("skype_standin.exe"), stdin=True)
        client.expect(r"^ready ")
        return client

    def program_linked(self, client, path=None):
        """Starts the program (this copy of it, if given) and waits for the
        attach and PROTOCOL 5; returns it and its link window."""
        program = self.wine.start(path or self.program_path)
        # Wine's loader is the Windows program's own process, natively or emulated.
        program.linux_pid = program.proc.pid
        _, m = client.expect(r"^discover \d+ (\w+)$", timeout=60)
        client.expect(r"^replied \d+ 0$")
        client.expect(r"^command \d+ \w+ 11 ", timeout=30)
        return program, m.group(1)

    def helper(self, name, *args):
        p = self.wine.start(harness.exe(name), *args)
        _, m = p.expect(r"^ready (\w+)$", timeout=60)
        p.linux_pid = p.proc.pid
        return p, m.group(1)

    def stop(self, *processes):
        for p in processes:
            p.kill()
            self.wine.processes.remove(p)

    def close(self):
        self.wine.close()


def timed(client, target, text):
    """Sends one mood to target; (sent on CLOCK_MONOTONIC, SendMessage seconds, result)."""
    client.send("target " + target)
    client.send("timed " + text)
    _, m = client.expect(r"^timed (\d+) (\d+) (.+)$")
    return raw_to_monotonic(int(m.group(1)) / 1e6), int(m.group(2)) / 1e6, m.group(3)


def abba(count):
    """0, 1, 1, 0, 0, 1, 1, 0, ...: neither side always goes first."""
    return [(i // 2 + i) % 2 for i in range(count)]


# ---- services -------------------------------------------------------------

class SlowService(StatusService):
    """The stand-in service; every answer waits `delay` seconds first."""

    delay = 0.0

    def start(self):
        super().start()
        # A burst opens a connection per mood at once: room for all of them.
        self._listener.listen(4096)

    def _respond(self, *args, **kwargs):
        if self.delay:
            time.sleep(self.delay)
        super()._respond(*args, **kwargs)

    def moods(self):
        """(answer, text) of every authenticated request."""
        return [(r["answered"], r["body"].decode("latin-1")[len("status="):].rstrip(" "))
                for r in self.requests() if r["authorization"]]


NGINX_CONF = """daemon off;
master_process on;
worker_processes 1;
worker_rlimit_nofile 65536;
user root;
pid {dir}/nginx.pid;
error_log {dir}/error.log warn;
events {{ worker_connections 16384; }}
http {{
    access_log off;
    client_body_temp_path {dir}/tmp/body;
    proxy_temp_path {dir}/tmp/proxy;
    fastcgi_temp_path {dir}/tmp/fastcgi;
    uwsgi_temp_path {dir}/tmp/uwsgi;
    scgi_temp_path {dir}/tmp/scgi;
    # The body is read (and so can be logged) where it is passed on: here.
    log_format moods '$status $remote_user $request_body';
    server {{
        listen 127.0.0.1:{port} default_server backlog=4096;
        client_body_buffer_size 16k;
        client_body_in_single_buffer on;
        location / {{
            auth_basic "Status Service";
            auth_basic_user_file {dir}/htpasswd;
            access_log {dir}/moods.log moods;
            proxy_pass http://127.0.0.1:{upstream};
        }}
    }}
    server {{
        listen 127.0.0.1:{upstream};
        access_log off;
        location / {{
            default_type application/json;
            return 200 '{{"id":1}}';
        }}
    }}
}}
"""


class Nginx:
    """nginx as the status service: auth_basic in front, a second server
    behind that answers 200; the front logs each authenticated body."""

    def __init__(self, folder):
        self.dir = folder
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(os.path.join(folder, "tmp"))
        for i, user in enumerate(ACCOUNTS):
            subprocess.run([HTPASSWD, "-b", "-m"] + (["-c"] if i == 0 else []) +
                           [os.path.join(folder, "htpasswd"), user, PASSWORD], check=True, capture_output=True)
        self.port, upstream = tls.free_port(), tls.free_port()
        with open(os.path.join(folder, "nginx.conf"), "w") as f:
            f.write(NGINX_CONF.format(dir=folder, port=self.port, upstream=upstream))
        self.log = os.path.join(folder, "moods.log")
        self.proc = subprocess.Popen([NGINX, "-p", folder, "-c", os.path.join(folder, "nginx.conf"),
                                      "-e", os.path.join(folder, "error.log")],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if not harness.wait_until(self._listening, timeout=20, step=0.05):
            self.stop()
            raise RuntimeError("nginx did not start: %s" % harness.read_text(os.path.join(folder, "error.log")))

    def _listening(self):
        if self.proc.poll() is not None:
            raise RuntimeError("nginx ended: %s" % self.proc.stderr.read().decode(errors="replace"))
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=0.5).close()
            return True
        except OSError:
            return False

    def moods(self, user=None):
        """(status, text) of every logged request with a body; only user's, if given."""
        found = []
        for line in (harness.read_text(self.log) or "").splitlines():
            m = re.match(r"^(\d+) (\S+) status=(\S*) ?$", line)
            if m and (user is None or m.group(2) == user):
                found.append((m.group(1), m.group(3)))
        return found

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)


def tally(received, prefix, count):
    """(each exactly once, received, distinct, lost, duplicated, answered other than 200)."""
    mine = [(s, t) for s, t in received if t.startswith(prefix)]
    texts = [t for _, t in mine]
    wanted = {prefix + str(i) for i in range(1, count + 1)}
    distinct = set(texts) & wanted
    lost = len(wanted - distinct)
    dup = len(texts) - len(set(texts))
    not_ok = sum(1 for s, _ in mine if s != "200")
    return (lost == 0 and dup == 0 and not_ok == 0 and len(texts) == count), len(texts), lost, dup, not_ok


def wait_for_moods(service, prefix, want, quiet=30, limit=900):
    """Waits until the service has `want` moods starting with prefix, or
    nothing new came for `quiet` seconds."""
    seen, last_change, deadline = -1, time.monotonic(), time.monotonic() + limit
    while time.monotonic() < deadline:
        n = sum(1 for _, text in service.moods() if text.startswith(prefix))
        if n >= want:
            return
        if n != seen:
            seen, last_change = n, time.monotonic()
        elif time.monotonic() - last_change > quiet:
            return
        time.sleep(0.5)


# ---- benchmarks -----------------------------------------------------------

def bench_latency(table, build, service, client, link, bare, n, details, how=""):
    """Mood sent to the authenticated request fully received, program and
    baseline in turn."""
    lat = ([], [])
    for i, side in enumerate(abba(2 * n)):
        text = "lat-%s-%d" % ("pb"[side], i)
        before = len(service.wait_for(0, 0, authenticated=True))
        sent, _, result = timed(client, (link, bare)[side], text)
        got = service.wait_for(before + 1, 20, authenticated=True)
        if result != "1" or len(got) <= before or got[before]["body"] != ("status=%s " % text).encode():
            details.append("%s latency: mood %s not received as the one request expected (%s)" % (build, text, result))
            continue
        lat[side].append(got[before]["time"] - sent)
        time.sleep(0.05)  # the answer goes out and the poster ends before the next mood
    table.ratio(build, "mood to update received%s, median of %d" % (how, n), median(lat[0]), median(lat[1]), "ms",
                1.10)
    table.ratio(build, "mood to update received%s, p99" % how, p99(lat[0]), p99(lat[1]), "ms", None)
    details.append("%s latency%s samples: program %d, baseline %d" % (build, how, len(lat[0]), len(lat[1])))


def bench_latency_https(table, build, rig, service, n, details, keep):
    """The same over https, straight to nginx with TLS in front of the
    stand-in: the program at the address its settings name, the baseline
    making the same request; the test root trusted in this prefix alone."""
    certs = tls.make_certs(os.path.join(keep, "certs-" + build))
    tls.trust_root(rig.wine, certs)
    path = "/statuses/update.json"
    with tls.TlsService(os.path.join(keep, "nginx-tls-" + build), certs["trusted"], service.port, USERNAME,
                        PASSWORD) as front:
        program_path = harness.install_program(rig.wine.folder("app-https"), harness.settings_text(
            USERNAME, PASSWORD) + "service=%s\r\n" % front.url(path))
        proxy = rig.wine.env.pop("http_proxy")
        try:
            client = rig.client()
            program, link = rig.program_linked(client, program_path)
            bare, bare_window = rig.helper("bare_post.exe", USERNAME, PASSWORD, "localhost", str(front.port), path)
            bench_latency(table, build, service, client, link, bare_window, n, details, " over https")
            rig.stop(program, client, bare)
        finally:
            rig.wine.env["http_proxy"] = proxy


CREATE_RECORD = "/xrpc/com.atproto.repo.createRecord"


def side_by_side(n, send, arrived, mood, details, what):
    """Mood to arrival, for the program (side 0) and its baseline (side 1)
    in turn, n each: mood(side letter, i) makes the text, send(side, text)
    hands it over and gives (sent on CLOCK_MONOTONIC, result), arrived(text)
    when it got where it goes, or None."""
    lat = ([], [])
    for i, side in enumerate(abba(2 * n)):
        text = mood("pb"[side], i)
        sent_at, result = send(side, text)
        done = arrived(text)
        if result != "1" or done is None:
            details.append("%s: mood %s did not arrive (%s)" % (what, text, result))
            continue
        lat[side].append(done - sent_at)
        time.sleep(0.05)
    return lat


def bench_bluesky(table, build, rig, n, details, keep):
    """Mood to record made on the reference AT Protocol server, behind nginx
    with TLS, with the rig's relay between the two stamping the server's
    answer: the program, its session made by its first mood, beside the
    bare poster making the same createRecord with a session made
    beforehand. The first mood's extra time is the session's."""
    certs = tls.make_certs(os.path.join(keep, "certs-bluesky-" + build))
    tls.trust_root(rig.wine, certs)
    folder = os.path.join(keep, "pds-" + build)
    shutil.rmtree(folder, ignore_errors=True)
    with Pds(folder, certs, relay=True) as pds:
        account = pds.create_account("bench.test", "bench-main-password")
        app_password = pds.create_app_password(account, "bench")
        program_path = harness.install_program(rig.wine.folder("app-bluesky"), harness.settings_text(
            "bench.test", app_password) + "service=%s\r\n" % pds.url(CREATE_RECORD))
        session = pds.xrpc("com.atproto.server.createSession", {"identifier": "bench.test", "password": app_password})
        proxy = rig.wine.env.pop("http_proxy")
        try:
            client = rig.client()
            program, link = rig.program_linked(client, program_path)
            bare, bare_window = rig.helper("bare_post.exe", "--bearer", session["accessJwt"], session["did"],
                                           "localhost", str(pds.tls.port), CREATE_RECORD)

            def made(text):
                """When the server answered the createRecord of text, or None."""
                def find():
                    for r in pds.relay.requests(CREATE_RECORD):
                        if r.get("status") == 200 and json.loads(r["body"])["record"]["text"] == text:
                            return r["answered"]
                    return None
                harness.wait_until(lambda: find() is not None, 20, step=0.01)
                return find()

            sent, _, _ = timed(client, link, "bsky-first")
            first = made("bsky-first")
            def send(side, text):
                sent_at, _, result = timed(client, (link, bare_window)[side], text)
                return sent_at, result

            lat = side_by_side(n, send, made, lambda side, i: "bsky-%s-%d" % (side, i), details,
                               build + " bluesky")
            table.ratio(build, "mood to record made on Bluesky's server, median of %d" % n, median(lat[0]),
                        median(lat[1]), "ms", 1.10)
            table.ratio(build, "mood to record made on Bluesky's server, p99", p99(lat[0]), p99(lat[1]), "ms", None)
            # A mood with one mention of an account there: the program
            # resolves the handle before it posts, and so does the bare poster.
            mention = side_by_side(n, send, made, lambda side, i: "bsky-m-%s-%d @bench.test" % (side, i), details,
                                   build + " bluesky")
            table.ratio(build, "mood with a mention to record made, median of %d" % n, median(mention[0]),
                        median(mention[1]), "ms", 1.10)
            if first is None:
                details.append("%s bluesky: the first mood made no record" % build)
            else:
                table.plain(build, "first mood, its session made too (beside the median)",
                            fmt(first - sent, "ms"), fmt(median(lat[0]), "ms"), "-", None)
            sessions = len(pds.relay.requests("/xrpc/com.atproto.server.createSession"))
            details.append("%s bluesky samples: program %d, baseline %d, with a mention %d and %d; sessions asked "
                           "for: %d (one the bench's own); handles resolved: %d"
                           % (build, len(lat[0]), len(lat[1]), len(mention[0]), len(mention[1]), sessions,
                              len(pds.relay.requests("/xrpc/com.atproto.identity.resolveHandle"))))
            rig.stop(program, client, bare)
        finally:
            rig.wine.env["http_proxy"] = proxy


def bench_two_accounts(table, build, rig, service, n, details, keep):
    """A mood to two accounts, the stand-in service (over https, nginx with
    TLS in front of it) and the reference AT Protocol server, until both
    have it: the program, beside the two bare posters handed the same mood
    together (the client's pair, one SendMessage right after the other)."""
    certs = tls.make_certs(os.path.join(keep, "certs-accounts-" + build))
    tls.trust_root(rig.wine, certs)
    folder = os.path.join(keep, "pds-accounts-" + build)
    shutil.rmtree(folder, ignore_errors=True)
    path = "/statuses/update.json"
    with tls.TlsService(os.path.join(keep, "nginx-accounts-" + build), certs["trusted"], service.port, USERNAME,
                        PASSWORD) as front, Pds(folder, certs, relay=True) as pds:
        account = pds.create_account("bench.test", "bench-main-password")
        app_password = pds.create_app_password(account, "bench")
        program_path = harness.install_program(rig.wine.folder("app-accounts2"), harness.settings_text(
            USERNAME, PASSWORD) + "service=%s\r\n[Moodshuttle 2]\r\nusername=bench.test\r\npassword=%s\r\n"
            "service=%s\r\n" % (front.url(path), app_password, pds.url(CREATE_RECORD)))
        session = pds.xrpc("com.atproto.server.createSession", {"identifier": "bench.test", "password": app_password})
        proxy = rig.wine.env.pop("http_proxy")
        try:
            client = rig.client()
            program, link = rig.program_linked(client, program_path)
            bare, bare_window = rig.helper("bare_post.exe", USERNAME, PASSWORD, "localhost", str(front.port), path)
            bare2, bare2_window = rig.helper("bare_post.exe", "--bearer", session["accessJwt"], session["did"],
                                             "localhost", str(pds.tls.port), CREATE_RECORD)

            def both_have(text):
                """When the later of the two got text, or None."""
                def at():
                    got = [r["time"] for r in service.wait_for(0, 0, authenticated=True)
                           if r["body"] == ("status=%s " % text).encode()]
                    made = [r["answered"] for r in pds.relay.requests(CREATE_RECORD)
                            if r.get("status") == 200 and json.loads(r["body"])["record"]["text"] == text]
                    return max(got[0], made[0]) if got and made else None
                harness.wait_until(lambda: at() is not None, 20, step=0.01)
                return at()

            timed(client, link, "two-first")  # the program's session, made by its first mood
            both_have("two-first")
            def send(side, text):
                if not side:
                    sent_at, _, result = timed(client, link, text)
                    return sent_at, result
                client.send("target " + bare_window)
                client.send("pair %s %s" % (bare2_window, text))
                _, m = client.expect(r"^timed (\d+) (\d+) (.+)$")
                return raw_to_monotonic(int(m.group(1)) / 1e6), m.group(3)

            lat = side_by_side(n, send, both_have, lambda side, i: "two-%s-%d" % (side, i), details,
                               build + " two accounts")
            table.ratio(build, "mood to two accounts, both have it, median of %d" % n, median(lat[0]),
                        median(lat[1]), "ms", 1.10)
            details.append("%s two accounts samples: program %d, baseline %d" % (build, len(lat[0]), len(lat[1])))
            rig.stop(program, client, bare, bare2)
        finally:
            rig.wine.env["http_proxy"] = proxy


def bench_sendmessage(table, build, service, client, link, ret1, n, delay, details):
    service.delay = delay
    took = ([], [])
    before = len(service.wait_for(0, 0, authenticated=True))
    for i, side in enumerate(abba(2 * n)):
        _, seconds, result = timed(client, (link, ret1)[side], "sm-%s-%g-%d" % ("pr"[side], delay, i))
        if result == "1":
            took[side].append(seconds)
        time.sleep(0.02)
    when = "service answering at once" if not delay else "service taking %g s" % delay
    table.ratio(build, "SendMessage of a mood, median, %s" % when, median(took[0]), median(took[1]), "us", 1.25)
    # The goal is on the p90 whatever the count, the p99 shown beside it.
    if goal_tail(n) is not None:
        table.ratio(build, "SendMessage of a mood, p90, %s" % when, percentile(took[0], 90),
                    percentile(took[1], 90), "us", 1.5)
    table.ratio(build, "SendMessage of a mood, p99, %s" % when, p99(took[0]), p99(took[1]), "us", None)
    if len(took[0]) != n or len(took[1]) != n:
        details.append("%s SendMessage: %d and %d of %d returned 1" % (build, len(took[0]), len(took[1]), n))
    # The posters finish before the next benchmark.
    got = service.wait_for(before + n, 30 + 4 * delay * n, authenticated=True)
    service.delay = 0.0
    if len(got) - before != n:
        details.append("%s SendMessage (%s): %d of %d updates received" % (build, when, len(got) - before, n))


def bench_idle_cpu(table, build, program, timer, seconds):
    time.sleep(3)  # past start-up
    a0, b0 = cpu_seconds(program.linux_pid), cpu_seconds(timer.linux_pid)
    time.sleep(seconds)
    a, b = cpu_seconds(program.linux_pid) - a0, cpu_seconds(timer.linux_pid) - b0
    table.ratio(build, "CPU time over %d s attached and idle" % seconds, a, b, "cpu", 1.5)


def first_debug_line(process, text):
    """When the process's first debug line `text` was read, or None."""
    return next((t for t, line in process.debug if line == text), None)


def bench_start(table, build, rig, starts):
    """Start of the program to its first discovery and of the minimal window
    program to its first window, each seen the same way: the debug line it
    writes at that moment, read from Wine's output."""
    times = ([], [])
    for side in abba(2 * starts):
        program, text = ((rig.program_path, DISCOVERY_LINE), (harness.exe("minimal_window.exe"), FIRST_WINDOW_LINE))[side]
        started = time.monotonic()
        p = rig.wine.start(program)
        if harness.wait_until(lambda: first_debug_line(p, text) is not None, timeout=60, step=0.005):
            times[side].append(first_debug_line(p, text) - started)
        rig.stop(p)
        time.sleep(0.3)
    table.ratio(build, "start to first discovery, median of %d" % starts, median(times[0]), median(times[1]), "ms",
                1.5)


class Peak(threading.Thread):
    """Samples a process's figures until stopped; keeps the highest thread
    count, the figures then, and its memory map at that moment."""

    def __init__(self, pid, step):
        super().__init__(daemon=True)
        self.pid, self.step = pid, step
        self.top = {"threads": 0}
        self.maps = ""
        self.done = threading.Event()
        self.start()

    def run(self):
        while not self.done.is_set():
            try:
                now = proc_status(self.pid)
                if now["threads"] > self.top["threads"]:
                    self.top = now
                    with open("/proc/%d/maps" % self.pid) as f:
                        self.maps = f.read()
            except (FileNotFoundError, ProcessLookupError, KeyError):
                return
            time.sleep(self.step)

    def stop(self):
        self.done.set()
        self.join()
        return self.top


def bench_burst(table, build, rig, service, label, prefix, n, details, keep):
    """n moods back to back; the service is nginx or the slow stand-in, both
    with moods(). Returns the peak figures."""
    client = rig.client()
    program, link = rig.program_linked(client)
    peak = Peak(program.linux_pid, 0.02)
    client.send("target " + link)
    client.send("burst %d %s" % (n, prefix))
    client.expect(r"^burst %d$" % n, timeout=900)
    wait_for_moods(service, prefix, n)
    top = peak.stop()
    # Posters still running once no more moods come show where lost ones stopped.
    try:
        after = "%d threads at the end" % proc_status(program.linux_pid)["threads"]
    except FileNotFoundError:
        after = "the program had ended"
    ok, received, lost, dup, not_ok = tally(service.moods(), prefix, n)
    results = [line.split()[3:] for line in client.stdout if line.startswith("timed ")]
    refused = sum(1 for r in results if r != ["1"])
    table.plain(build, "burst: %d moods as fast as the client can, %s" % (n, label), "%d received" % received, "-",
                "%d, each once, own text" % n, ok)
    details.append("%s burst, %s: %d received, %d lost, %d duplicated, %d answered other than 200, %d SendMessage "
                   "not 1; peak %d threads, %.0f MiB address space, %.0f MiB resident; %s"
                   % (build, label, received, lost, dup, not_ok, refused, top["threads"], top.get("vm", 0) / 2**20,
                      top.get("rss", 0) / 2**20, after))
    with open(os.path.join(keep, "burst-%s-%s-peak-maps.txt" % (build, prefix.strip("-"))), "w") as f:
        f.write(peak.maps)
    rig.stop(program, client)
    return top


def bench_burst_accounts(table, build, rig, nginx, n, one, details):
    """n moods back to back to a program of three accounts at nginx, each of
    its own user; `one` is the peak of one account's burst, from the same
    run: each mood is three posters, one an account, within the same bound
    of posters at once."""
    path = harness.install_program(rig.wine.folder("app-accounts"), "".join(
        "[%s]\r\nusername=%s\r\npassword=%s\r\n" % ("Moodshuttle" + (" %d" % (i + 1) if i else ""), user, PASSWORD)
        for i, user in enumerate(ACCOUNTS)))
    prefix = "accounts-"
    client = rig.client()
    program, link = rig.program_linked(client, path)
    peak = Peak(program.linux_pid, 0.02)
    client.send("target " + link)
    client.send("burst %d %s" % (n, prefix))
    client.expect(r"^burst %d$" % n, timeout=900)
    wait_for_moods(nginx, prefix, n * len(ACCOUNTS))
    top = peak.stop()
    each = [tally(nginx.moods(user), prefix, n) for user in ACCOUNTS]
    table.plain(build, "burst: %d moods to %d accounts" % (n, len(ACCOUNTS)),
                " / ".join("%d" % t[1] for t in each), "-", "%d each, each once, own text" % n,
                all(t[0] for t in each))
    table.plain(build, "burst to %d accounts: peak threads, resident MiB" % len(ACCOUNTS),
                "%d, %.0f" % (top["threads"], top.get("rss", 0) / 2**20),
                "%d, %.0f" % (one["threads"], one.get("rss", 0) / 2**20), "<= one account's burst at the bound",
                top["threads"] <= one["threads"] and top.get("rss", 0) <= one.get("rss", 0))
    details.append("%s burst to %d accounts: %s; peak %d threads, %.0f MiB address space, %.0f MiB resident"
                   % (build, len(ACCOUNTS), ", ".join("%s %d received, %d lost, %d duplicated, %d not 200"
                                                      % ((user,) + t[1:]) for user, t in zip(ACCOUNTS, each)),
                      top["threads"], top.get("vm", 0) / 2**20, top.get("rss", 0) / 2**20))
    rig.stop(program, client)


def bench_soak(table, build, rig, nginx, n, rate, settle, details):
    client = rig.client()
    program, link = rig.program_linked(client)
    bare, bare_window = rig.helper("bare_post.exe", USERNAME, PASSWORD)
    time.sleep(5)
    idle = (usage_of(rig.wine, program, link), usage_of(rig.wine, bare, bare_window))
    peaks = (Peak(program.linux_pid, 1.0), Peak(bare.linux_pid, 1.0))
    start = time.monotonic()
    for i in range(1, n + 1):
        delay = start + (i - 1) / rate - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        for target, side in ((link, "p"), (bare_window, "b")):
            client.send("target " + target)
            client.send("timed soak-%s-%d" % (side, i))
    last = time.monotonic()
    log("%s soak: %d moods each sent in %.0f s" % (build, n, last - start))
    wait_for_moods(nginx, "soak-", 2 * n, limit=settle + 300)
    time.sleep(max(0.0, last + settle - time.monotonic()))
    after = (usage_of(rig.wine, program, link), usage_of(rig.wine, bare, bare_window))
    tops = [p.stop() for p in peaks]
    moods = nginx.moods()
    once = [tally(moods, "soak-%s-" % side, n) for side in "pb"]
    table.plain(build, "soak: %d moods at %d/s, each received once" % (n, rate),
                "%d received" % once[0][1], "%d received" % once[1][1], "%d, each once" % n, once[0][0])
    growth = [{k: after[s][k] - idle[s][k] for k in ("rss", "threads", "handles")} for s in (0, 1)]
    label = "soak: %d s after the last" % settle
    table.plain(build, label + ", resident memory growth", "%+.2f MiB" % (growth[0]["rss"] / 2**20),
                "%+.2f MiB" % (growth[1]["rss"] / 2**20), "<= 2 MiB and <= baseline's",
                growth[0]["rss"] <= 2 * 2**20 and growth[0]["rss"] <= max(growth[1]["rss"], 0))
    for key, name in (("threads", "threads"), ("handles", "open handles")):
        table.plain(build, "%s, %s idle -> after" % (label, name), "%d -> %d" % (idle[0][key], after[0][key]),
                    "%d -> %d" % (idle[1][key], after[1][key]), "back to idle, growth <= baseline's",
                    after[0][key] <= idle[0][key] and growth[0][key] <= max(growth[1][key], 0))
    for side, name, (ok, received, lost, dup, not_ok), top in zip("pb", ("program", "baseline"), once, tops):
        details.append("%s soak %s: %d received, %d lost, %d duplicated, %d answered other than 200; peak %d threads, "
                       "%.1f MiB resident" % (build, name, received, lost, dup, not_ok, top["threads"],
                                              top.get("rss", 0) / 2**20))
    refused = sum(1 for line in client.stdout if line.startswith("timed ") and line.split()[3:] != ["1"])
    if refused:
        details.append("%s soak: %d SendMessage calls did not return 1" % (build, refused))
    rig.stop(program, bare, client)


def bench_build(table, build, path, sizes, wanted, details, keep):
    harness.BUILD = path
    if build == "x86" and "size" in wanted:
        size = os.path.getsize(harness.exe("Moodshuttle.exe"))
        table.plain(build, SIZE_ROW, "%.1f KiB" % (size / 1024), "-", "<= %d KiB" % (SHIPPED_LIMIT // 1024),
                    size <= SHIPPED_LIMIT)
        kind, why = harness.way_32bit()
        if kind == "none":
            details.append("x86: " + ways.NOT_RUN_32BIT % why)
            return
        del harness.loaders_seen[:]
    service = SlowService()
    service.start()
    nginx = None
    rig = None
    try:
        rig = Rig(build, service.port)
        if wanted & {"idle", "latency", "sendmessage"}:
            client = rig.client()
            check_counter(client)
            program, link = rig.program_linked(client)
            if "idle" in wanted:
                timer, _ = rig.helper("minimal_window.exe", "--timer")
                log("%s: idle CPU, %d s" % (build, sizes["idle"]))
                bench_idle_cpu(table, build, program, timer, sizes["idle"])
                rig.stop(timer)
            bare, bare_window = rig.helper("bare_post.exe", USERNAME, PASSWORD)
            ret1, ret1_window = rig.helper("minimal_window.exe")
            if "latency" in wanted:
                log("%s: latency, %d each" % (build, sizes["latency"]))
                bench_latency(table, build, service, client, link, bare_window, sizes["latency"], details)
            if "sendmessage" in wanted:
                log("%s: SendMessage, %d each, twice" % (build, sizes["sendmessage"]))
                for delay in (0.0, 2.0):
                    bench_sendmessage(table, build, service, client, link, ret1_window, sizes["sendmessage"], delay,
                                      details)
            rig.stop(program, client, bare, ret1)
        if "https" in wanted:
            log("%s: latency over https, %d each" % (build, sizes["latency"]))
            bench_latency_https(table, build, rig, service, sizes["latency"], details, keep)
        if "bluesky" in wanted and ways.pds_missing():
            details.append("%s: " % build + ways.NOT_RUN_PDS % ways.pds_missing())
        elif "bluesky" in wanted:
            log("%s: latency to Bluesky's server, %d each" % (build, sizes["latency"]))
            bench_bluesky(table, build, rig, sizes["latency"], details, keep)
            log("%s: latency to two accounts, %d each" % (build, sizes["latency"]))
            bench_two_accounts(table, build, rig, service, sizes["latency"], details, keep)
        if "start" in wanted:
            log("%s: starts, %d each" % (build, sizes["starts"]))
            bench_start(table, build, rig, sizes["starts"])
        if "burst" in wanted:
            log("%s: bursts of %d" % (build, sizes["burst"]))
            service.delay = 2.0
            slow = bench_burst(table, build, rig, service, "service taking 2 s", "slowburst-", sizes["burst"], details,
                               keep)
            service.delay = 0.0
        if wanted & {"burst", "soak"}:
            nginx = Nginx(os.path.join(keep, "nginx-" + build))
            rig.proxy(nginx.port)
        if "burst" in wanted:
            fast = bench_burst(table, build, rig, nginx, "nginx", "burst-", sizes["burst"], details, keep)
            # What one account's burst may take: the slow service's, which
            # holds every poster it may start at once.
            bench_burst_accounts(table, build, rig, nginx, sizes["burst"], max(slow, fast, key=lambda t: t["threads"]),
                                 details)
        if "soak" in wanted:
            log("%s: soak of %d at %d/s" % (build, sizes["soak"], sizes["rate"]))
            bench_soak(table, build, rig, nginx, sizes["soak"], sizes["rate"], sizes["settle"], details)
    finally:
        harness.run_all([rig.close if rig else lambda: None, service.stop, nginx.stop if nginx else lambda: None])
    if build == "x86":
        # Beside the x86 rows: how every prefix of theirs ran, from what the kernel ran its Wine loader as.
        emulated = any(harness.emulated(loader) for loader in harness.loaders_seen)
        table.rows = [(build + " (emulated)" if emulated and row[0] == build and row[1] != SIZE_ROW else row[0],)
                      + row[1:] for row in table.rows]
        details.insert(0, "%s ran %s" % (build + " (emulated)" if emulated else build,
                                         harness.ran_32bit(harness.loaders_seen)))


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run([harness.WINE, "--version"], capture_output=True, text=True).stdout.strip()
    return "%s, %d cores; %s" % (model, os.cpu_count(), wine)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer samples, under 10 minutes")
    parser.add_argument("--build", choices=BUILDS, action="append", help="only this build (repeatable); both by default")
    parser.add_argument("--builds", default=os.path.join(ROOT, "build"), help="folder holding the builds' folders")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=N", help="changes one sample count")
    parser.add_argument("--only", choices=GROUPS, action="append",
                        help="only these rows (repeatable); all of them by default")
    args = parser.parse_args()
    wanted = set(args.only or GROUPS)
    sizes = dict(QUICK if args.quick else FULL)
    for item in args.set:
        name, _, value = item.partition("=")
        if name not in sizes:
            parser.error("--set: one of %s" % ", ".join(sizes))
        sizes[name] = int(value)
    keep = os.path.join(ROOT, "build", "bench")
    os.makedirs(keep, exist_ok=True)
    began, load = time.monotonic(), os.getloadavg()[0]
    table, details = Table(), []
    for build in BUILDS:
        if not args.build or build in args.build:
            bench_build(table, build, os.path.join(os.path.abspath(args.builds), build), sizes, wanted, details, keep)
    out = sys.stdout
    out.write("Moodshuttle benchmarks (%s%s), each figure beside its baseline from the same run\n"
              % ("quick" if args.quick else "full", "; only " + ", ".join(g for g in GROUPS if g in wanted)
                 if args.only else ""))
    table.print(out)
    for line in details:
        out.write("  " + line + "\n")
    out.write("machine: %s\n" % machine())
    out.write("date: %s; run time %.0f s; load average %.2f at start, %.2f at end\n" % (
        datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"), time.monotonic() - began, load,
        os.getloadavg()[0]))
    met, total = table.score()
    out.write("goals met: %d of %d\n" % (met, total))
    return 0


if __name__ == "__main__":
    # Ended from outside, it still stops everything it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())

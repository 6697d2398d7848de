"""Which way a run takes where something from outside could not be had, and
why: the one place that decides, for scripts/setup, the tests, the demo and
the benchmarks alike. Taken afresh every time from what is installed, so a
machine that gets the missing piece later takes the full way by itself.

scripts/setup leaves, for this run only, apt's and npm's own reasons in
build/setup-notes (one file a piece, cleared at every start of setup): they
give the reason its words, never the decision.

    ways.py index-failures      apt-get update's output on stdin: a line for
                                each index apt could not use, and why
    ways.py install-failure PKG apt-get install's output on stdin: one line
                                saying why PKG could not be installed
    ways.py 32bit PROBE         prints "native PATH", "emulator PATH" or
                                "none WHY", the loader's presence included
    ways.py pds                 prints why the reference AT Protocol server
                                cannot run, or nothing where it can
    ways.py with-pds CMD...     runs CMD where the server's install is
                                there, else says why and exits 77, which
                                CTest takes as a skip"""

import hashlib
import os
import re
import sys

import i386_way

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
NOTES = os.path.join(ROOT, "build", "setup-notes")

# What every case that would run the 32-bit build skips with, and what
# scripts/test's last line says: the words CTest's skip rule looks for.
NOT_RUN_32BIT = "the 32-bit build was built and checked, not run: %s"
NOT_RUN_PDS = "the reference AT Protocol server is not installed, not run: %s"

# Wine's own 32-bit loader and what it needs for https, where Debian's
# packages put them (wine32:i386, libgnutls30:i386).
LOADER_FILES = ("/usr/lib/wine/wine", "/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll",
                "/usr/lib/i386-linux-gnu/libgnutls.so.30")
LOADER_PACKAGES = "wine32:i386 libgnutls30:i386"

PDS = os.path.join(ROOT, "rig", "pds")
PDS_STAMP = os.path.join(PDS, "node_modules", ".moodshuttle-lockfile.sha256")
PDS_NATIVE = os.path.join(PDS, "node_modules", "better-sqlite3", "build", "Release", "obj.target",
                          "better_sqlite3.node")

# "E: Failed to fetch URL  REASON [IP: ADDRESS PORT]", and its W: form.
FAILED_FETCH = re.compile(r"^[EW]: Failed to fetch (\S+)\s+(.*?)\s*(\[IP: [^]]*\])?\s*$")
# apt's closing lines after failed fetches, which name no index.
AFTERWORDS = ("Some index files failed to download", "Failed to fetch")


def index_failures(text):
    """The indexes apt-get update could not use, "URL: reason" each; other
    errors and warnings of apt's, as apt gave them."""
    lines = []
    for line in text.splitlines():
        fetch = FAILED_FETCH.match(line)
        if fetch:
            lines.append("%s: %s" % (fetch.group(1), fetch.group(2)))
        elif line.startswith(("E: ", "W: ")) and not line[3:].startswith(AFTERWORDS):
            lines.append(line[3:].strip())
    return lines


def install_failure(text, package):
    """Why apt-get install did not install package, in one line: apt's
    errors, and the unmet dependency that names the package (else the first
    one), with how many more there were."""
    errors = [line[3:].strip().rstrip(".") for line in text.splitlines() if line.startswith("E: ")]
    unmet = []
    owner = None
    for line in text.splitlines():
        named = re.match(r"^ (\S+) : (Depends|PreDepends|Breaks|Conflicts): (.*)$", line)
        if named:
            owner = named.group(1)
            unmet.append("%s : %s: %s" % (owner, named.group(2), named.group(3).strip()))
        elif owner and re.match(r"^\s+(Depends|PreDepends|Breaks|Conflicts): ", line):
            unmet.append("%s : %s" % (owner, line.strip()))
        else:
            owner = None
    reason = "; ".join(errors) or "apt-get install failed"
    if unmet:
        stem = package.split(":")[0].rstrip("0123456789")
        first = next((u for u in unmet if u.startswith(package + " ")),
                     next((u for u in unmet if stem in u.split(" ")[0]), unmet[0]))
        more = len(unmet) - 1
        reason += "; %s%s" % (first, ", and %d more unmet" % more if more else "")
    return reason


def note(name):
    """What setup wrote this run about name, or None."""
    try:
        with open(os.path.join(NOTES, name)) as f:
            return f.read().strip() or None
    except OSError:
        return None


def decide_32bit(probe_way, missing, apt_note):
    """The way of the 32-bit build: the kernel's (i386_way.run_probe) where
    the loader is there, else ("none", why). missing: the loader's files
    that are not there; apt_note: apt's reason from setup, if it gave one."""
    kind, detail = probe_way
    if kind == "none":
        return "none", "this machine runs no 32-bit x86 code: %s" % detail
    if missing:
        return "none", apt_note or "%s is not installed (no %s); scripts/setup installs it" % (
            LOADER_PACKAGES, missing[0])
    return kind, detail


def way_32bit(probe):
    """How the 32-bit build runs on this machine now: ("native", probe),
    ("emulator", its path) or ("none", why)."""
    i386_way.write_probe(probe)
    return decide_32bit(i386_way.run_probe(probe), [f for f in LOADER_FILES if not os.path.exists(f)],
                        note("wine32"))


def decide_pds(stamp, lock_hash, built, npm_note):
    """Why the reference AT Protocol server cannot run, or None: stamp is
    setup's record of the lockfile it installed from (None where there is
    none), built whether its native module is there."""
    if stamp == lock_hash and built:
        return None
    return npm_note or "it is not installed from rig/pds/package-lock.json; scripts/setup installs it"


def pds_missing():
    """Why the reference AT Protocol server cannot run here, or None."""
    try:
        with open(PDS_STAMP) as f:
            stamp = f.read().strip()
    except OSError:
        stamp = None
    with open(os.path.join(PDS, "package-lock.json"), "rb") as f:
        lock_hash = hashlib.sha256(f.read()).hexdigest()
    return decide_pds(stamp, lock_hash, os.path.exists(PDS_NATIVE), note("pds"))


def main(argv):
    if argv[1:2] == ["index-failures"]:
        for line in index_failures(sys.stdin.read()):
            print(line)
    elif argv[1:2] == ["install-failure"] and len(argv) == 3:
        print(install_failure(sys.stdin.read(), argv[2]))
    elif argv[1:2] == ["32bit"] and len(argv) == 3:
        probe = os.path.abspath(argv[2])
        os.makedirs(os.path.dirname(probe), exist_ok=True)
        print(" ".join(way_32bit(probe)))
    elif argv[1:] == ["pds"]:
        print(pds_missing() or "")
    elif argv[1:2] == ["with-pds"] and len(argv) > 2:
        missing = pds_missing()
        if missing:
            print(NOT_RUN_PDS % missing)
            return 77
        os.execv(argv[2], argv[2:])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

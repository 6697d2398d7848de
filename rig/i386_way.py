"""How this machine runs 32-bit x86 Linux programs, Wine's own 32-bit loader
among them: natively, through QEMU's user-mode emulator registered with the
kernel's binfmt_misc, or not at all. scripts/setup and the rig ask it the
same way: they run a 112-byte i386 program that waits for its input to close
and then ends with 42, and look at the program the kernel really runs for it
(/proc/PID/exe): the probe itself, or an emulator. A binfmt_misc handler is
tried before the kernel's own ELF loader, so a registered QEMU runs every
i386 program, even where the kernel could run it.

    i386_way.py PROBE           writes the probe, prints "native PATH",
                                "emulator PATH" or "none WHY"
    i386_way.py PROBE register  makes i386 programs run through QEMU, unless
                                they already do through this very QEMU"""

import os
import struct
import subprocess
import sys

BINFMT = "/proc/sys/fs/binfmt_misc"
# QEMU's own name for the entry, so that one made by other means is found.
ENTRY = "qemu-i386"
# QEMU's magic and mask for i386 executables, as qemu-user ships them; its
# package registers only other machines' formats on an x86-64 host.
FORMAT = "/usr/share/qemu/binfmt.d/qemu-i386.conf"
MOUNT = "/bin/mount"


def probe_image():
    """A static i386 program: read(0, esp, 1), then exit(42), through int 0x80."""
    code = bytes([0xB8, 3, 0, 0, 0, 0x31, 0xDB, 0x89, 0xE1, 0xBA, 1, 0, 0, 0, 0xCD, 0x80,
                  0xB8, 1, 0, 0, 0, 0xBB, 42, 0, 0, 0, 0xCD, 0x80])
    base, entry = 0x08048000, 0x08048000 + 52 + 32
    header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, entry, 52, 0, 0, 52, 32, 1,
                                                             0, 0, 0)
    size = 52 + 32 + len(code)
    return header + struct.pack("<8I", 1, 0, base, base, size, size, 5, 0x1000) + code


def write_probe(path):
    """Writes the probe unless it is there; by rename, since another process
    may be running it (a file being run cannot be written)."""
    image = probe_image()
    try:
        with open(path, "rb") as f:
            if f.read() == image:
                return
    except OSError:
        pass
    part = "%s.%d" % (path, os.getpid())
    with open(part, "wb") as f:
        f.write(image)
    os.chmod(part, 0o755)
    os.replace(part, path)


def entry():
    """QEMU's i386 entry as binfmt_misc shows it ({"enabled": bool, "interpreter": ..., "flags": ...}), or None."""
    try:
        with open(os.path.join(BINFMT, ENTRY)) as f:
            lines = f.read().splitlines()
    except OSError:
        return None
    fields = {key.rstrip(":"): value for key, _, value in (line.partition(" ") for line in lines[1:])}
    return dict(fields, enabled=lines[:1] == ["enabled"])


def lacking():
    """What this machine lacks for running i386 programs through QEMU."""
    qemu = registration()[1]
    if not os.path.exists(qemu):
        return "QEMU's emulator is not installed (%s)" % qemu
    if not os.path.exists(os.path.join(BINFMT, "register")):
        return "binfmt_misc is not mounted at " + BINFMT
    found = entry()
    if found is None:
        return "QEMU is not registered with binfmt_misc for them"
    if not found["enabled"]:
        return "binfmt_misc's %s entry is disabled" % ENTRY
    return "binfmt_misc's %s entry names %s" % (ENTRY, found.get("interpreter"))


def run_probe(probe):
    """How the probe runs: ("native", its path), ("emulator", the program the
    kernel ran for it, with " (deleted)" where that file has been replaced
    since it was registered), or ("none", why not)."""
    try:
        proc = subprocess.Popen([probe], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    except OSError as e:
        return "none", "the kernel refuses i386 executables (%s), and %s" % (e.strerror, lacking())
    # Popen returns once the program has been executed, and it waits for its input.
    try:
        ran = os.readlink("/proc/%d/exe" % proc.pid)
    except OSError:
        ran = "?"
    proc.stdin.close()
    try:
        code = proc.wait(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        code = proc.wait()
    if code != 42:
        return "none", "i386 executables run here (as %s) end at once (%s), and %s" % (
            ran, "signal %d" % -code if code < 0 else "exit code %d" % code, lacking())
    return ("native" if ran == os.path.realpath(probe) else "emulator"), ran


def registration():
    """The line that registers QEMU for i386 executables, and the program it
    names. The F flag has the kernel open the emulator once, at registration,
    so it runs in any mount namespace or chroot too."""
    line = ""
    try:
        with open(FORMAT) as f:
            line = next((text.strip() for text in f if text.startswith(":%s:" % ENTRY)), "")
    except OSError:
        pass
    fields = line.split(":")
    if len(fields) != 8:
        return None, "/usr/bin/qemu-i386"
    if "F" not in fields[7]:
        fields[7] += "F"
    return ":".join(fields), os.path.realpath(fields[6])


def emulator_name(path):
    """The emulator's own version line, where it still is the file registered."""
    if path.endswith(" (deleted)"):
        return path
    try:
        out = subprocess.run([path, "--version"], capture_output=True, timeout=30).stdout.decode(errors="replace")
    except (OSError, subprocess.TimeoutExpired):
        return path
    return "%s, %s" % (path, out.splitlines()[0] if out else "no version")


def register(probe):
    """Makes i386 programs run through QEMU; returns what was done. Nothing
    where the probe already runs through this very QEMU; otherwise an entry
    of QEMU's name is replaced: disabled, or for another emulator, or for a
    file replaced since it was registered (as an upgrade does), which under
    the F flag would go on running. Raises OSError where it cannot."""
    line, qemu = registration()
    if line is None:
        raise OSError("QEMU's i386 format is not in " + FORMAT)
    if run_probe(probe) == ("emulator", qemu):
        return "already registered: %s" % qemu
    if not os.path.exists(os.path.join(BINFMT, "register")):
        mounted = subprocess.run([MOUNT, "-t", "binfmt_misc", "binfmt_misc", BINFMT], capture_output=True)
        if mounted.returncode != 0:
            raise OSError("binfmt_misc cannot be mounted at %s: %s" % (BINFMT, mounted.stderr.decode().strip()))
    replaced = entry()
    if replaced is not None:
        with open(os.path.join(BINFMT, ENTRY), "w") as f:
            f.write("-1")
    try:
        with open(os.path.join(BINFMT, "register"), "w") as f:
            f.write(line)
    except OSError as e:
        raise OSError("binfmt_misc's register cannot be written: %s" % e.strerror) from None
    how = run_probe(probe)
    if how != ("emulator", qemu):
        raise OSError("QEMU was registered, yet the probe ran %s" % " ".join(how))
    return "registered %s for i386 executables as binfmt_misc's %s%s" % (
        qemu, ENTRY, ", replacing one for %s" % replaced.get("interpreter") if replaced else "")


def main(argv):
    probe = os.path.abspath(argv[1])
    os.makedirs(os.path.dirname(probe), exist_ok=True)
    write_probe(probe)
    if argv[2:] == ["register"]:
        try:
            print(register(probe))
        except OSError as e:
            print("cannot: %s" % e)
            return 1
        return 0
    print(" ".join(run_probe(probe)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

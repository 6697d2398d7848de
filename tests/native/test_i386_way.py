"""How scripts/setup registers QEMU for i386 programs (rig/i386_way.py), tried
in a binfmt_misc of a user and mount namespace of its own, which nothing
outside it sees. Each row starts that binfmt_misc with what the row names,
registers twice, and checks that the probe then runs through this QEMU under
one entry, and that the second time changed nothing."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "rig"))
import i386_way  # noqa: E402

UNSHARE = "/usr/bin/unshare"
IN_NAMESPACE = r"""
set -e
/bin/mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
[ -z "$BEFORE" ] || printf '%s' "$BEFORE" >/proc/sys/fs/binfmt_misc/register
[ -z "$DISABLE" ] || echo 0 >/proc/sys/fs/binfmt_misc/qemu-i386
[ -z "$GONE" ] || /bin/rm "$GONE"
for time in 1 2; do
  /usr/bin/python3 i386_way.py "$PROBE" register
  /bin/cat /proc/sys/fs/binfmt_misc/qemu-i386
  echo ==
done
/bin/ls /proc/sys/fs/binfmt_misc
/usr/bin/python3 i386_way.py "$PROBE"
"""


class Registration(unittest.TestCase):
    def setUp(self):
        self.line, self.qemu = i386_way.registration()
        if self.line is None or not os.path.exists(self.qemu):
            self.skipTest("QEMU is not installed: scripts/setup installs it where the kernel runs no i386 code, "
                          "or where MOODSHUTTLE_32BIT=emulator asks for it")
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder)
        self.probe = os.path.join(self.folder, "probe")
        i386_way.write_probe(self.probe)
        tried = subprocess.run([UNSHARE, "--user", "--map-root-user", "--mount", "--propagation", "private",
                                i386_way.MOUNT, "-t", "binfmt_misc", "binfmt_misc", i386_way.BINFMT], capture_output=True)
        if tried.returncode != 0:
            self.skipTest("no binfmt_misc of a namespace's own here (Linux 6.7 on): %r" % tried.stderr)

    def register_twice(self, before="", disable="", gone=""):
        env = dict(os.environ, PROBE=self.probe, BEFORE=before, DISABLE=disable, GONE=gone)
        r = subprocess.run([UNSHARE, "--user", "--map-root-user", "--mount", "--propagation", "private",
                            "/bin/sh", "-c", IN_NAMESPACE], env=env, cwd=os.path.dirname(i386_way.__file__),
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        first, second, rest = r.stdout.split("==\n")
        return first.splitlines(), second.splitlines(), rest.split()

    def test_the_registration_is_made_once_and_replaces_what_would_not_run_this_qemu(self):
        other = os.path.join(self.folder, "qemu-i386-replaced")
        fields = self.line.split(":")
        theirs = ":".join(fields[:6] + [other, "F"])
        rows = [
            ("nothing registered", {}, "registered"),
            ("this QEMU already", dict(before=self.line), "already"),
            ("this QEMU, disabled", dict(before=self.line, disable="1"), "registered"),
            # Under F the kernel keeps running the file it opened, as after an upgrade of the package.
            ("a file since replaced", dict(before=theirs, gone=other), "registered"),
        ]
        for name, before, done in rows:
            with self.subTest(name):
                shutil.copy(self.qemu, other)
                first, second, rest = self.register_twice(**before)
                self.assertTrue(first[0].startswith(done), first[0])
                self.assertTrue(second[0].startswith("already registered"), second[0])
                self.assertEqual(first[1:], second[1:], "the second time changed nothing")
                self.assertEqual(first[1:3], ["enabled", "interpreter " + fields[6]])
                self.assertIn("F", first[3].split()[-1])
                self.assertEqual(rest, ["qemu-i386", "register", "status", "emulator", self.qemu])


if __name__ == "__main__":
    unittest.main()

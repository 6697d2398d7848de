"""Which way a run takes where something from outside could not be had
(rig/ways.py), from what apt and npm said and what is installed; and how a
system suite whose cases skip for it ends for CTest (tests/system/suite.py)."""

import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "rig"))
import ways  # noqa: E402

# apt-get update -qq as it ended on 2026-12-09, the mirror serving an i386
# index of another size than its signed Release names.
UPDATE_OUT_OF_STEP = """\
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  \
File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
   Hashes of expected file:
    - Filesize:376004 [weak]
    - SHA256:5aa58ea44688978d17b28ffab762d89251fefc64aa2548ac43e228e5fd91d903
   Release file created at: Mon, 07 Dec 2026 23:22:40 +0000
E: Some index files failed to download. They have been ignored, or old ones used instead.
"""
# apt-get install -q wine32:i386 then, shortened.
INSTALL_HELD = """\
Reading package lists...
The following packages have unmet dependencies:
 libcurl4:i386 : Depends: libbrotli1:i386 (>= 0.6.0) but it is not going to be installed
                 Depends: zlib1g:i386 (>= 1:1.1.4) but it is not going to be installed
 libwine:i386 : Depends: libgstreamer-plugins-base1.0-0:i386 (>= 1.0.0) but it is not going to be installed
 maven : Depends: default-jre-headless (>= 2:1.7) but it is not going to be installed or
                  java7-runtime-headless
E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages.
"""
HELD = "Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages"


class AptsWords(unittest.TestCase):
    def test_each_index_apt_could_not_use_is_one_line_with_its_reason(self):
        rows = [
            ("the mirror out of step", UPDATE_OUT_OF_STEP,
             ["http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz: "
              "File has unexpected size (374820 != 376004). Mirror sync in progress?"]),
            ("a warning's form, two indexes",
             "W: Failed to fetch http://a/x  404  Not Found\nW: Failed to fetch http://b/y  Hash Sum mismatch\n"
             "W: Some index files failed to download. They have been ignored, or old ones used instead.\n",
             ["http://a/x: 404  Not Found", "http://b/y: Hash Sum mismatch"]),
            ("another error, as apt gave it",
             "E: The repository 'http://c bookworm Release' does not have a Release file.\n",
             ["The repository 'http://c bookworm Release' does not have a Release file."]),
            ("all well", "", []),
        ]
        for name, text, lines in rows:
            with self.subTest(name):
                self.assertEqual(ways.index_failures(text), lines)

    def test_why_a_package_was_not_installed_is_one_line(self):
        rows = [
            ("held packages: the dependency named after it", INSTALL_HELD, "wine32:i386",
             HELD + "; libwine:i386 : Depends: libgstreamer-plugins-base1.0-0:i386 (>= 1.0.0) but it is not "
                    "going to be installed, and 3 more unmet"),
            ("its own unmet dependency first", INSTALL_HELD, "maven",
             HELD + "; maven : Depends: default-jre-headless (>= 2:1.7) but it is not going to be installed or, "
                    "and 3 more unmet"),
            ("none named after it: the first", INSTALL_HELD, "faketime",
             HELD + "; libcurl4:i386 : Depends: libbrotli1:i386 (>= 0.6.0) but it is not going to be installed, "
                    "and 3 more unmet"),
            ("no such package", "E: Unable to locate package nosuch\n", "nosuch", "Unable to locate package nosuch"),
            ("nothing said", "", "x", "apt-get install failed"),
        ]
        for name, text, package, reason in rows:
            with self.subTest(name):
                self.assertEqual(ways.install_failure(text, package), reason)
                self.assertNotIn("\n", ways.install_failure(text, package))


class Decisions(unittest.TestCase):
    def test_the_32bit_way_from_the_kernel_and_the_loader(self):
        apt = "apt could not install wine32:i386 (%s)" % HELD
        rows = [
            ("all there", ("native", "/p"), [], None, ("native", "/p")),
            ("through QEMU", ("emulator", "/usr/bin/qemu-i386"), [], apt, ("emulator", "/usr/bin/qemu-i386")),
            ("apt could not", ("native", "/p"), ["/usr/lib/wine/wine"], apt, ("none", apt)),
            ("not installed, setup not run", ("emulator", "/q"), ["/usr/lib/wine/wine"], None,
             ("none", "wine32:i386 libgnutls30:i386 is not installed (no /usr/lib/wine/wine); "
                      "scripts/setup installs it")),
            ("no 32-bit code at all", ("none", "the kernel refuses i386 executables"), ["/usr/lib/wine/wine"], apt,
             ("none", "this machine runs no 32-bit x86 code: the kernel refuses i386 executables")),
        ]
        for name, probe, missing, note, way in rows:
            with self.subTest(name):
                self.assertEqual(ways.decide_32bit(probe, missing, note), way)
        self.assertTrue((ways.NOT_RUN_32BIT % apt).startswith("the 32-bit build was built and checked, not run: apt"))

    def test_the_reference_server_from_its_stamp(self):
        npm = "npm could not install rig/pds/package-lock.json (code E403; 403 Forbidden)"
        rows = [
            ("installed from this lockfile", "h1", "h1", True, npm, None),
            ("from an older lockfile", "h0", "h1", True, None,
             "it is not installed from rig/pds/package-lock.json; scripts/setup installs it"),
            ("npm refused", None, "h1", False, npm, npm),
            ("stamped, its module gone", "h1", "h1", False, None,
             "it is not installed from rig/pds/package-lock.json; scripts/setup installs it"),
        ]
        for name, stamp, lock, built, note, why in rows:
            with self.subTest(name):
                self.assertEqual(ways.decide_pds(stamp, lock, built, note), why)


SUITE = textwrap.dedent("""\
    import unittest
    class Cases(unittest.TestCase):
        def test_a(self):
            {a}
        def test_b(self):
            {b}
    """)


class SuiteEnd(unittest.TestCase):
    def test_a_suite_is_skipped_only_where_every_case_was(self):
        skip = "self.skipTest('the reference AT Protocol server is not installed, not run: why')"
        rows = [
            ("all skipped", skip, skip, 77),
            ("one skipped, one passed", skip, "pass", 0),
            ("one skipped, one failed", skip, "self.fail('x')", 1),
            ("one skipped, one in error", skip, "1 / 0", 1),
            ("all passed", "pass", "pass", 0),
        ]
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        for i, (name, a, b, code) in enumerate(rows):
            with self.subTest(name):
                with open(os.path.join(folder, "case%d.py" % i), "w") as f:
                    f.write(SUITE.format(a=a, b=b))
                run = subprocess.run([sys.executable, os.path.join(HERE, "..", "system", "suite.py"), "case%d" % i],
                                     cwd=folder, capture_output=True, text=True, timeout=60,
                                     env=dict(os.environ, PYTHONPATH=folder))
                self.assertEqual(run.returncode, code, run.stdout + run.stderr)


if __name__ == "__main__":
    unittest.main()

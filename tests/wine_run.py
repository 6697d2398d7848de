"""Runs one Windows test program under Wine in a prefix of its own and
returns its exit code: the emulator CTest uses for the cross build."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "rig"))
import harness  # noqa: E402


# What CTest takes as a skip (SKIP_RETURN_CODE).
SKIPPED = 77


def main():
    program = os.path.abspath(sys.argv[1])
    try:
        wine = harness.Wine(os.path.basename(program).split(".")[0], display=False)
    except unittest.SkipTest as skip:
        print("skipped: %s" % skip)
        return SKIPPED
    wine.env["WINEDEBUG"] = "-all"
    try:
        return subprocess.run(harness.command(program, *sys.argv[2:]), env=wine.env).returncode
    finally:
        wine.close()


if __name__ == "__main__":
    sys.exit(main())

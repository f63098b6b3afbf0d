# SPDX-License-Identifier: MIT
"""The Makefile installs nothing: a target whose tools are missing stops before it runs
anything and names the scripts/install-deps job that brings them."""

import os
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

# target, the job its message names (the first prerequisite checked decides)
CASES = [
    ("build", "demo"),
    ("demo", "demo"),
    ("test-unit", "demo"),
    ("check", "test"),
    ("test", "test"),
    ("test-tsan", "test"),
    ("test-fuzz", "test"),
    ("packages", "packages"),
    ("test-packages", "packages"),
    ("test-cross", "cross"),
    ("release", "packages cross jvm rust"),
    ("bench", "bench"),
    ("bench-host", "bench"),
]


class MissingTools(unittest.TestCase):
    def test_targets(self):
        for target, job in CASES:
            with self.subTest(target), tempfile.TemporaryDirectory() as tmp:
                # No command on PATH: every command check fails, and nothing could be
                # installed even if a recipe tried.
                p = subprocess.run(["/usr/bin/make", "-C", ROOT, "--no-print-directory", target,
                                    f"BUILD={tmp}/b", f"NTSRCH_RESULTS={tmp}/r"],
                                   env={"PATH": "/nonexistent", "HOME": tmp},
                                   capture_output=True, text=True)
                self.assertNotEqual(p.returncode, 0, p.stdout)
                self.assertIn(f"install them with: scripts/install-deps {job}\n", p.stderr)
                self.assertRegex(p.stderr, r"missing .*\bcmake\b")
                self.assertEqual(os.listdir(tmp), [], "a recipe ran before the check")
                self.assertEqual(p.stdout, "", "a recipe ran before the check")


if __name__ == "__main__":
    unittest.main()

# SPDX-License-Identifier: MIT
"""scripts/test-stages on stand-in stages: each runs with a TMPDIR of its own, anything a
stage leaves there fails that stage by name, and the folder is gone afterwards."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = os.path.join(HERE, "..", "..", "scripts")
# test-stages and the two scripts it runs to write and count result lines.
DRIVER = ["test-stages", "stage_results.py", "results.py"]

# name, the stage's recipe (shell, run by make), then: verdict, fail lines under the stage.
CASES = [
    ("removes what it made", 'f=$$(mktemp); d=$$(mktemp -d); rm -rf "$$f" "$$d"', "ok", []),
    ("leaves a file", 'mktemp -p "$$TMPDIR" kept.XXX >/dev/null; mv "$$TMPDIR"/kept.* "$$TMPDIR/kept"',
     "FAILED", ["fail left in TMPDIR: kept"]),
    ("leaves a server folder and a dot file",
     'mkdir -p "$$TMPDIR/wine-x/server-1"; touch "$$TMPDIR/.lock"', "FAILED",
     ["fail left in TMPDIR: .lock", "fail left in TMPDIR: wine-x"]),
    ("fails and leaves nothing", "false", "FAILED", []),
    # Not the caller's TMPDIR, and not shared with the next stage.
    ("gets a fresh folder of its own",
     '[ "$$TMPDIR" != "$$OUTER" ] && [ -d "$$TMPDIR" ] && [ -z "$$(ls -A "$$TMPDIR")" ] && '
     'touch "$$OUTER/seen"', "ok", []),
]


class TmpLeftBehind(unittest.TestCase):
    def test_stages(self):
        for name, recipe, verdict, fails in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as top:
                os.makedirs(os.path.join(top, "scripts"))
                for f in DRIVER:
                    shutil.copy(os.path.join(SCRIPTS, f), os.path.join(top, "scripts", f))
                with open(os.path.join(top, "Makefile"), "w") as f:
                    f.write("test-one:\n\t@mkdir -p $(NTSRCH_RESULTS)\n"
                            f"\t{recipe}\n\techo 'pass one' >$(NTSRCH_RESULTS)/one.txt\n")
                outer = os.path.join(top, "outer")
                os.makedirs(outer)
                env = dict(os.environ, TMPDIR=outer, OUTER=outer)
                p = subprocess.run(["bash", os.path.join(top, "scripts", "test-stages"), "one"],
                                   cwd=top, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True)
                m = re.search(r"^=== stage one: (\w+) in", p.stdout, re.M)
                self.assertIsNotNone(m, p.stdout)
                self.assertEqual(m.group(1), verdict, p.stdout)
                self.assertEqual(p.returncode == 0, verdict == "ok", p.stdout)
                got = [l.strip() for l in p.stdout.splitlines() if l.startswith("    fail ")]
                self.assertEqual(got, fails, p.stdout)
                left = sorted(e for e in os.listdir(outer) if e != "seen")
                self.assertEqual(left, [], "the stage's folder outlived it")
                if name == "gets a fresh folder of its own":
                    self.assertTrue(os.path.exists(os.path.join(outer, "seen")), p.stdout)


if __name__ == "__main__":
    unittest.main()

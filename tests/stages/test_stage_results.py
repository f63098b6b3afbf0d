# SPDX-License-Identifier: MIT
"""scripts/stage_results.py on stand-in result folders: what it counts and what it shows,
and scripts/results.py's refusals."""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
sys.path.insert(0, SCRIPTS)
import results  # noqa: E402

JUNIT = """<testsuite>
<testcase name="A.ok"/>
<testcase name="A.bad"><failure message="x"/></testcase>
<testcase name="gone" classname="tool" status="notrun"><system-out>x
needs wine</system-out></testcase>
</testsuite>"""

# name, files of the folder, then the first line and the lines shown under the stage.
CASES = [
    ("junit", {"ctest.xml": JUNIT}, "1 1 1", ["fail A.bad", "skip tool.gone: needs wine"]),
    ("result lines", {"a.txt": "pass x\nfail y: why\nskip z: no qemu\nnote took 3 s\nbuild log line\n"},
     "1 1 1", ["fail y: why", "skip z: no qemu", "note took 3 s"]),
    ("an unreadable result file fails", {"bad.xml": "<testsuite><testcase"}, "0 1 0",
     ["fail bad result file bad.xml: ..."]),
    ("both kinds add up", {"ctest.xml": JUNIT, "b.txt": "pass p\npass q\n"}, "3 1 1",
     ["fail A.bad", "skip tool.gone: needs wine"]),
]


class StageResults(unittest.TestCase):
    def test_folders(self):
        for name, files, counts, shown in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as d:
                for f, text in files.items():
                    with open(os.path.join(d, f), "w", encoding="utf-8") as out:
                        out.write(text)
                p = subprocess.run([sys.executable, os.path.join(SCRIPTS, "stage_results.py"), d],
                                   capture_output=True, text=True, check=True)
                lines = p.stdout.splitlines()
                self.assertEqual(lines[0], counts, p.stdout)
                self.assertEqual(len(lines[1:]), len(shown), p.stdout)
                for want, got in zip(shown, lines[1:]):
                    self.assertTrue(got.startswith(want.rstrip(".")), (want, got))

    def test_lines(self):
        self.assertEqual(results.line("fail", "a\nb", "why\nnot"), "fail a b: why not")
        for args in [("skip", "no reason"), ("passed", "x"), ("pass", " ")]:
            with self.subTest(args), self.assertRaises(ValueError):
                results.line(*args)


if __name__ == "__main__":
    unittest.main()

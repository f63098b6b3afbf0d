# SPDX-License-Identifier: MIT
"""rerun_unstarted.py against a stand-in ctest: which failed tests run again, and what the
JUnit file, the notes and the exit status say afterwards."""

import json
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
BANNER = "Running main() from gtest_main.cc\n[==========] Running 1 test from 1 test suite.\n"

# Answers --show-only=json-v1 from listing.json; for -I 0,0,0,N,... writes rerun.json's
# results of those tests (by name) as JUnit and records which ran.
FAKE_CTEST = r'''import json, os, sys
here = os.path.dirname(os.path.abspath(__file__))
listing = json.load(open(os.path.join(here, "listing.json")))
if "--show-only=json-v1" in sys.argv:
    print(json.dumps({"kind": "ctestInfo", "tests": listing}))
    sys.exit(0)
picked = [listing[int(i) - 1]["name"] for i in sys.argv[sys.argv.index("-I") + 1].split(",")[3:]]
open(os.path.join(here, "ran.txt"), "a").write("\n".join(picked) + "\n")
results = json.load(open(os.path.join(here, "rerun.json")))
with open(sys.argv[sys.argv.index("--output-junit") + 1], "w") as f:
    f.write("<testsuite>")
    for n in picked:
        body = BODY_PASS if results[n] == "pass" else BODY_FAIL
        f.write('<testcase name="%s" status="%s">%s</testcase>' % (n, "run" if results[n] == "pass" else "fail", body))
    f.write("</testsuite>")
'''.replace("BODY_PASS", repr("<system-out>Running main() from x</system-out>")).replace(
    "BODY_FAIL", repr('<failure message=""/><system-out>Running main() from x</system-out>'))

GTEST = ["env", "wine64", "t.exe", "--gtest_filter=X"]
OTHER = ["env", "wine64", "ntsrch.exe", "selftest"]

# name, tests in the first run (name, command, passed, output), rerun results by name,
# then: tests run again, exit status, each test's final status, note fragments.
CASES = [
    ("lost before main, passes again",
     [("A", GTEST, True, BANNER), ("B", GTEST, False, "")], {"B": "pass"},
     ["B"], 0, {"A": "run", "B": "run"},
     ["note windows: B did not start under the emulator (after 0.05 s, printed: nothing); rerun once: passed"]),
    ("lost before main twice",
     [("B", GTEST, False, "emulator: wine64 exited with status 5 after 40 ms")], {"B": "fail"},
     ["B"], 1, {"B": "fail"},
     ["B did not start under the emulator (after 0.05 s, printed: emulator: wine64 exited with status 5 after 40 ms); rerun once: failed"]),
    ("started and failed",
     [("A", GTEST, False, BANNER + "[  FAILED  ] X\n")], {}, [], 1, {"A": "fail"}, []),
    ("banner alone still counts as started",
     [("A", GTEST, False, "[==========] Running 1 test from 1 test suite.\n")], {}, [], 1, {"A": "fail"}, []),
    ("not a GoogleTest program",
     [("T", OTHER, False, "")], {}, [], 1, {"T": "fail"}, []),
    ("one lost, one started and failed",
     [("A", GTEST, False, BANNER), ("B", GTEST, False, "")], {"B": "pass"},
     ["B"], 1, {"A": "fail", "B": "run"}, ["B did not start", "rerun once: passed"]),
    ("ctest failed without a failed test",
     [("A", GTEST, True, BANNER)], {}, [], 1, {"A": "run"}, []),
]


def read(path: str) -> str:
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8") as f:
        return f.read()


class RerunUnstarted(unittest.TestCase):
    def test_cases(self) -> None:
        for name, first, rerun, ran, rc, final, notes in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as d:
                ctest = os.path.join(d, "ctest")
                with open(ctest, "w") as f:
                    f.write(f"#!{sys.executable}\n" + FAKE_CTEST)
                os.chmod(ctest, 0o755)
                with open(os.path.join(d, "listing.json"), "w") as f:
                    json.dump([{"name": n, "command": c} for n, c, _, _ in first], f)
                with open(os.path.join(d, "rerun.json"), "w") as f:
                    json.dump(rerun, f)
                suite = ET.Element("testsuite")
                for n, _, ok, out in first:
                    tc = ET.SubElement(suite, "testcase", name=n, time="0.05",
                                       status="run" if ok else "fail")
                    if not ok:
                        ET.SubElement(tc, "failure", message="")
                    ET.SubElement(tc, "system-out").text = out
                junit = os.path.join(d, "ctest-windows.xml")
                ET.ElementTree(suite).write(junit)
                notes_file = os.path.join(d, "cross.txt")
                p = subprocess.run(
                    [sys.executable, os.path.join(HERE, "rerun_unstarted.py"), d, junit, notes_file,
                     "windows"], env=dict(os.environ, NTSRCH_CTEST=ctest),
                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                self.assertEqual(p.returncode, rc, p.stdout)
                self.assertEqual(read(os.path.join(d, "ran.txt")).split(), ran)
                got = {tc.get("name"): tc.get("status") for tc in ET.parse(junit).getroot().iter("testcase")}
                self.assertEqual(got, final)
                got_notes = read(notes_file)
                self.assertEqual(got_notes.count("\n"), len(ran), got_notes)
                for want in notes:
                    self.assertIn(want, got_notes)


if __name__ == "__main__":
    unittest.main()

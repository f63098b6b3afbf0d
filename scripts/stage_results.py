#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Counts one test stage's result files (scripts/test-stages runs it on each stage's folder):
JUnit XML (ctest --output-junit, gtest --gtest_output=xml) and the *.txt result lines of
scripts/results.py. Prints "PASSED FAILED SKIPPED", then one line per failed or skipped
test and per note, in the results format.

Usage: stage_results.py RESULTS_DIR
"""

import glob
import os
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import results  # noqa: E402


def junit(path, shown):
    """(passed, failed, skipped) of one JUnit file; its failures and skips go to shown."""
    counts = [0, 0, 0]
    for tc in ET.parse(path).getroot().iter("testcase"):
        name = tc.get("name", "?")
        if tc.get("classname") and tc.get("classname") not in name and "." not in name:
            name = f"{tc.get('classname')}.{name}"
        status = tc.get("status", "run")
        skipped = tc.find("skipped")
        if tc.find("failure") is not None or tc.find("error") is not None or status == "fail":
            counts[1] += 1
            shown.append(results.line("fail", name))
        elif skipped is not None or status in ("notrun", "disabled") or tc.get("result") == "skipped":
            # ctest keeps a skipped test's reason as the last line of its output.
            out = [l.strip() for l in (tc.findtext("system-out") or "").splitlines() if l.strip()]
            why = out[-1] if out else (skipped.get("message", "") if skipped is not None else "")
            counts[2] += 1
            shown.append(results.line("skip", name, why or "no reason given"))
        else:
            counts[0] += 1
    return counts


def count(folder):
    passed = failed = skipped = 0
    shown = []
    for path in sorted(glob.glob(os.path.join(folder, "*.xml"))):
        try:
            p, f, s = junit(path, shown)
        except ET.ParseError as e:
            p, f, s = 0, 1, 0
            shown.append(results.line("fail", f"bad result file {os.path.basename(path)}", str(e)))
        passed, failed, skipped = passed + p, failed + f, skipped + s
    for path in sorted(glob.glob(os.path.join(folder, "*.txt"))):
        with open(path, encoding="utf-8", errors="replace") as f:
            for text in f:
                r = results.parse(text)
                if r is None:
                    continue
                kind, rest = r
                if kind == "pass":
                    passed += 1
                    continue
                failed += kind == "fail"
                skipped += kind == "skip"
                shown.append(f"{kind} {rest}")
    return passed, failed, skipped, shown


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    passed, failed, skipped, shown = count(sys.argv[1])
    print(passed, failed, skipped)
    for s in shown:
        print(s)
    return 0


if __name__ == "__main__":
    sys.exit(main())

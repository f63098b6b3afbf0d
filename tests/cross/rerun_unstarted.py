# SPDX-License-Identifier: MIT
"""After a failed ctest run of a cross tree: reruns, once, each GoogleTest test whose
program never started under the emulator, and says so.

A GoogleTest program prints its start banner ("Running main() from ..." or
"[==========] Running ...") and flushes it before any test, so even a crash inside a test
leaves it; a failed test without it was lost by the emulator (wine or qemu) before main(),
not by the code under test. Each such test runs
once more and its result replaces the first one in the JUnit file; a NOTES line names it,
with what the emulator printed. A test that started and failed, or any other failure,
stays failed.

Usage: rerun_unstarted.py TREE JUNIT NOTES TARGET
Exit status 0 when the JUnit file, after the reruns, holds no failed test.
"""

import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ET
from typing import Dict, List

BANNERS = ("Running main() from", "[==========] Running")
CTEST = os.environ.get("NTSRCH_CTEST", "ctest")


def failed(tc: ET.Element) -> bool:
    return tc.get("status") == "fail" or tc.find("failure") is not None


def said(tc: ET.Element) -> str:
    text = " | ".join(l.strip() for l in (tc.findtext("system-out") or "").splitlines() if l.strip())
    text = text if len(text) <= 300 else text[:300] + "..."
    return f"after {float(tc.get('time', '0')):.2f} s, printed: {text or 'nothing'}"


def main() -> int:
    tree, junit, notes, target = sys.argv[1:5]
    doc = ET.parse(junit)
    cases = {tc.get("name", ""): tc for tc in doc.getroot().iter("testcase")}
    failures = [name for name, tc in cases.items() if failed(tc)]
    if not failures:
        print(f"rerun_unstarted: ctest failed in {tree} with no failed test in {junit}")
        return 1
    listing = json.loads(subprocess.run([CTEST, "--test-dir", tree, "--show-only=json-v1"],
                                        check=True, stdout=subprocess.PIPE, text=True).stdout)
    index: Dict[str, int] = {}
    for i, t in enumerate(listing["tests"], 1):
        if any(a.startswith("--gtest_filter=") for a in t.get("command", [])):
            index[t["name"]] = i
    unstarted: List[str] = [
        n for n in failures
        if n in index and not any(b in (cases[n].findtext("system-out") or "") for b in BANNERS)
    ]
    if not unstarted:
        return 1
    rerun_xml = junit + ".rerun"
    subprocess.run([CTEST, "--test-dir", tree, "-I", "0,0,0," + ",".join(str(index[n]) for n in unstarted),
                    "--output-on-failure", "--output-junit", os.path.abspath(rerun_xml)])
    again = {tc.get("name", ""): tc for tc in ET.parse(rerun_xml).getroot().iter("testcase")}
    os.remove(rerun_xml)
    suite = doc.getroot()
    with open(notes, "a", encoding="utf-8") as out:
        for n in unstarted:
            first, second = cases[n], again.get(n)
            verdict = "passed" if second is not None and not failed(second) else "failed"
            out.write(f"note {target}: {n} did not start under the emulator ({said(first)}); "
                      f"rerun once: {verdict}\n")
            print(f"rerun_unstarted: {target}: {n} did not start; rerun once: {verdict}")
            if second is not None:
                suite.remove(first)
                suite.append(second)
                cases[n] = second
    suite.set("failures", str(sum(failed(tc) for tc in cases.values())))
    doc.write(junit, encoding="utf-8", xml_declaration=True)
    return 1 if any(failed(tc) for tc in cases.values()) else 0


if __name__ == "__main__":
    sys.exit(main())

# SPDX-License-Identifier: MIT
"""run_readme.py on small READMEs: each must pass or fail for the stated reason."""

import os
import subprocess
import sys
import tempfile
import unittest

RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_readme.py")
F = "```"

HELLO_C = f"""{F}c
/* hello.c */
#include <stdio.h>
int main(void) {{ puts("hello from C"); return 0; }}
{F}

{F}sh
cc -o hello hello.c && ./hello
{F}
"""

# name, setup commands run in the folder first, README text, then what readme.txt must hold:
# every "fail" line is listed (fragments), and the number of "pass" and "skip" lines.
CASES = [
    ("folder made first", "", f"""{F}sh
mkdir -p app
{F}

{F}python
# app/hello.py
print("hello")
{F}

{F}sh
python3 app/hello.py
{F}

It prints:

{F}text
hello
{F}
""", [], 2, 0),
    ("folder never made", "", f"""{F}python
# app/hello.py
print("hello")
{F}

{F}sh
mkdir -p app && python3 app/hello.py
{F}
""", ["app/hello.py: folder app/ does not exist", "`mkdir -p app && python3 app/hello.py`: exit status 2"], 0, 0),
    ("folder left by an earlier run is no excuse",
     "git init -q . && echo /app/ >.gitignore && mkdir app", f"""{F}python
# app/hello.py
print("hello")
{F}

{F}sh
python3 app/hello.py
{F}
""", ["app/hello.py: folder app/ does not exist", "exit status 2"], 0, 0),
    ("program compiles and prints", "", HELLO_C + f"""
{F}text
hello from C
{F}
""", [], 1, 0),
    ("program does not compile", "", HELLO_C.replace('puts("hello from C")', "puts(missing)"),
     ["`cc -o hello hello.c && ./hello`: exit status 1"], 0, 0),
    ("output line differs", "", f"""{F}sh
echo "module 1.0.0 (ABI 1) /opt/m.so"
{F}

{F}text
module 1.0.0 (ABI 1)
{F}
""", ["expected output line not printed: module 1.0.0 (ABI 1)"], 0, 0),
    ("one of two lines missing", "", f"""{F}sh
echo one
{F}

{F}text
one
two
{F}
""", ["expected output line not printed: two"], 0, 0),
    ("elided text", "", f"""{F}sh
echo "module 1.0.0 (ABI 1) /opt/m.so"; echo '[{{"id":6,"title":"N"}}]' >&2
{F}

{F}text
module 1.0.0 (ABI 1) .../m.so
[{{"id":6,...
{F}
""", [], 1, 0),
    ("example nothing runs", "", f"""{F}python
# lonely.py
print("never run")
{F}

{F}sh
echo other
{F}
""", ["lonely.py: no shell block after it builds or runs it"], 1, 0),
    ("skipped block", "", f"""<!-- readme-test: skip it would recurse -->
{F}sh
exit 1
{F}
""", [], 0, 1),
    ("a code block nothing runs", "", f"""{F}dart
final x = 1;
{F}
""", ["README.md:1 dart: a code block nothing runs"], 0, 0),
    ("JSON that parses, JSON that does not", "", f"""{F}json
{{"tracks": [{{"title": "a"}}]}}
{F}

{F}json
{{"tracks": [}}
{F}
""", ["README.md:5 JSON: does not parse"], 1, 0),
    # Several READMEs run in the order given, from the first one's folder: a later one
    # uses what an earlier one made, and names its own file in its results.
    ("READMEs in order", "mkdir docs", {"README.md": f"""{F}sh
mkdir -p app && echo made >app/state
{F}
""", "docs/more.md": f"""{F}sh
cat app/state
{F}

{F}text
made
{F}

{F}sh
false
{F}
"""}, ["docs/more.md:9 `false`: exit status 1"], 2, 0),
]


class RunReadme(unittest.TestCase):
    def test_fixtures(self) -> None:
        for name, setup, text, fails, passes, skips in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as top:
                if setup:
                    subprocess.run(["sh", "-c", setup], cwd=top, check=True)
                readmes = []
                for rel, body in (text if isinstance(text, dict) else {"README.md": text}).items():
                    readmes.append(os.path.join(top, rel))
                    with open(readmes[-1], "w", encoding="utf-8") as f:
                        f.write(body)
                results = os.path.join(top, "results")
                p = subprocess.run([sys.executable, RUNNER, results] + readmes,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                with open(os.path.join(results, "readme.txt"), encoding="utf-8") as f:
                    lines = f.read().splitlines()
                got = {w: [l for l in lines if l.startswith(w + " ")] for w in ("pass", "fail", "skip")}
                self.assertEqual(p.returncode, 1 if fails else 0, p.stdout)
                self.assertEqual(len(got["fail"]), len(fails), lines)
                for want in fails:
                    self.assertTrue(any(want in l for l in got["fail"]), (want, lines))
                self.assertEqual(len(got["pass"]), passes, lines)
                self.assertEqual(len(got["skip"]), skips, lines)


if __name__ == "__main__":
    unittest.main()

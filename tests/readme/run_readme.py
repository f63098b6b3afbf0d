# SPDX-License-Identifier: MIT
"""Runs the README as a newcomer would: every shell block in order, from the repository's
top folder, in a clean environment (only PATH, HOME, LANG and the machine's proxy and CA
settings, nothing the README does not show). Code examples whose first line names a file (`/* app.c */`, `# app.py`,
`// app.js`) are written to that file first, so the shell blocks after them can build and
run them exactly as shown. A ```text block right after a shell block is its expected
output: each of its lines must appear in the block's output (standard output and error
together, whose interleaving is not fixed).

A block preceded by `<!-- readme-test: skip REASON -->` is not run and is reported as
skipped with that reason. Results go to RESULTS_DIR/readme.txt as pass/fail/skip lines.

Usage: run_readme.py README RESULTS_DIR
"""

import os
import re
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from typing import List, Optional

SHELL_LANGS = {"sh", "shell", "bash", "console"}
FILE_COMMENT = re.compile(r"^\s*(?:/\*|//|#)\s*([\w./-]+\.(?:c|py|js|ts|cs|cmake|txt))\b")
SKIP_MARK = re.compile(r"<!--\s*readme-test:\s*skip\s+(.*?)\s*-->")


@dataclass
class Block:
    lang: str
    line: int
    body: str
    skip: Optional[str] = None
    expect: List[str] = field(default_factory=list)


def parse(path: str) -> List[Block]:
    blocks: List[Block] = []
    lines = open(path, encoding="utf-8").read().splitlines()
    i = 0
    pending_skip: Optional[str] = None
    since_block = 99  # prose lines since the last block closed
    while i < len(lines):
        m = re.match(r"^```(\S*)\s*$", lines[i])
        if not m:
            s = SKIP_MARK.search(lines[i])
            if s:
                pending_skip = s.group(1)
            elif lines[i].strip():
                since_block += 1
            i += 1
            continue
        lang, start = m.group(1), i + 1
        j = start
        while j < len(lines) and lines[j] != "```":
            j += 1
        body = "\n".join(lines[start:j]) + "\n"
        # Expected output belongs to the shell block right before it (one short line of
        # prose such as "It prints:" may stand between them).
        if lang == "text" and blocks and blocks[-1].lang in SHELL_LANGS and since_block <= 1:
            blocks[-1].expect = [l for l in body.splitlines() if l.strip()]
        else:
            blocks.append(Block(lang, start, body, pending_skip))
        pending_skip = None
        since_block = 0
        i = j + 1
    return blocks


def first_command(body: str) -> str:
    for l in body.splitlines():
        if l.strip() and not l.lstrip().startswith("#"):
            return l.strip()[:70]
    return "?"


def main() -> int:
    readme, results = sys.argv[1], sys.argv[2]
    top = os.path.dirname(os.path.abspath(readme))
    os.makedirs(results, exist_ok=True)
    home = tempfile.mkdtemp(prefix="ntsrch-readme-home-")
    env = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
           "HOME": home, "LANG": "C.UTF-8"}
    # How this machine reaches the network (proxies, extra CA certificates) belongs to the
    # machine, not to the README: npm needs it to fetch koffi.
    env.update({k: v for k, v in os.environ.items() if k.lower().endswith("_proxy")
                or k in ("NODE_EXTRA_CA_CERTS", "SSL_CERT_FILE", "SSL_CERT_DIR")})
    out = open(os.path.join(results, "readme.txt"), "w", encoding="utf-8")
    failed = 0
    for b in parse(readme):
        where = f"README.md:{b.line}"
        if b.lang in SHELL_LANGS:
            name = f"{where} `{first_command(b.body)}`"
            if b.skip:
                print(f"--- skip {name}: {b.skip}")
                out.write(f"skip {name}: {b.skip}\n")
                continue
            print(f"--- run {name}", flush=True)
            t0 = time.monotonic()
            p = subprocess.run(["bash", "-euo", "pipefail", "-c", b.body], cwd=top, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               errors="replace")
            sys.stdout.write(p.stdout)
            why = None
            if p.returncode != 0:
                why = f"exit status {p.returncode}"
            else:
                got = p.stdout.splitlines()
                for want in b.expect:
                    if not any(want.strip() in l for l in got):
                        why = f"expected output line not found: {want.strip()}"
                        break
            took = time.monotonic() - t0
            if why:
                failed += 1
                print(f"--- FAILED {name}: {why}")
                out.write(f"fail {name}: {why}\n")
            else:
                out.write(f"pass {name} ({took:.1f} s)\n")
        else:
            m = FILE_COMMENT.match(b.body.splitlines()[0] if b.body.strip() else "")
            if m and not b.skip:
                dest = os.path.join(top, m.group(1))
                os.makedirs(os.path.dirname(dest), exist_ok=True)
                with open(dest, "w", encoding="utf-8") as f:
                    f.write(b.body)
                print(f"--- wrote {m.group(1)} from {where}")
    out.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

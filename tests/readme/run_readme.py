# SPDX-License-Identifier: MIT
"""Runs the README as a newcomer would: every shell block in order, from the repository's
top folder, in a clean environment (only PATH, HOME, LANG and the machine's proxy and CA
settings, nothing the README does not show). Code examples whose first line names a file
(`/* app.c */`, `# app.py`, `// node-app/app.js`) are written to that file first, so the
shell blocks after them can build and run them exactly as shown. As for a reader, the
file's folder must already exist (made by an earlier block), and a later shell block must
use the file: an example nothing builds or runs is never checked. A ```text block right
after a shell block is its expected output: each of its lines must equal a whole line of
the block's output (standard output and error together, whose interleaving is not fixed);
`...` in an expected line stands for any text, such as a path or a long tail.

A block preceded by `<!-- readme-test: skip REASON -->` is not run and is reported as
skipped with that reason. Results go to RESULTS_DIR/readme.txt as pass/fail/skip lines.

Usage: run_readme.py README RESULTS_DIR
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from typing import Dict, List, Optional

SHELL_LANGS = {"sh", "shell", "bash", "console"}
FILE_COMMENT = re.compile(r"^\s*(?:/\*|//|#)\s*([\w./-]+\.(?:c|py|js|ts|cs|cmake|txt|rs|toml))\b")
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


def example_file(b: Block) -> Optional[str]:
    """The file a code example names on its first line, if it is to be written."""
    if b.lang in SHELL_LANGS or b.skip or not b.body.strip():
        return None
    m = FILE_COMMENT.match(b.body.splitlines()[0])
    return m.group(1) if m else None


def line_matches(want: str, got: str) -> bool:
    pattern = ".*".join(re.escape(part) for part in want.rstrip().split("..."))
    return re.fullmatch(pattern, got.rstrip()) is not None


def uses(body: str, name: str) -> bool:
    return re.search(r"(?<![\w.-])" + re.escape(os.path.basename(name)) + r"(?![\w-])",
                     body) is not None


def main() -> int:
    # npm's cache and the like land in HOME: a fresh one, removed at the end however the
    # run ends (a stopped run too).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    with tempfile.TemporaryDirectory(prefix="ntsrch-readme-home-") as home:
        return run(sys.argv[1], sys.argv[2], home)


def run(readme: str, results: str, home: str) -> int:
    top = os.path.dirname(os.path.abspath(readme))
    os.makedirs(results, exist_ok=True)
    env = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
           "HOME": home, "LANG": "C.UTF-8"}
    # How this machine reaches the network (proxies, extra CA certificates) and where it
    # keeps temporary files belong to the machine, not to the README: npm needs the first
    # to fetch koffi.
    env.update({k: v for k, v in os.environ.items() if k.lower().endswith("_proxy")
                or k in ("NODE_EXTRA_CA_CERTS", "SSL_CERT_FILE", "SSL_CERT_DIR", "TMPDIR")})
    out = open(os.path.join(results, "readme.txt"), "w", encoding="utf-8")
    failed = 0

    def fail(name: str, why: str) -> None:
        nonlocal failed
        failed += 1
        print(f"--- FAILED {name}: {why}")
        out.write(f"fail {name}: {why}\n")

    blocks = parse(readme)
    # A folder an earlier run left (git-ignored) would hide a README that never creates it.
    for b in blocks:
        example = example_file(b)
        folder = os.path.join(top, os.path.dirname(example)) if example else top
        if folder != top and os.path.isdir(folder) and subprocess.run(
                ["git", "-C", top, "check-ignore", "-q", folder],
                stderr=subprocess.DEVNULL).returncode == 0:
            shutil.rmtree(folder)
            print(f"--- removed {os.path.relpath(folder, top)}/, left by an earlier run")
    unused: Dict[str, str] = {}  # example file -> where the README shows it
    for b in blocks:
        where = f"README.md:{b.line}"
        if b.lang in SHELL_LANGS:
            name = f"{where} `{first_command(b.body)}`"
            if b.skip:
                print(f"--- skip {name}: {b.skip}")
                out.write(f"skip {name}: {b.skip}\n")
                continue
            for example in [e for e in unused if uses(b.body, e)]:
                del unused[example]
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
                    if not any(line_matches(want, l) for l in got):
                        why = f"expected output line not printed: {want.rstrip()}"
                        break
            took = time.monotonic() - t0
            if why:
                fail(name, why)
            else:
                out.write(f"pass {name} ({took:.1f} s)\n")
        else:
            example = example_file(b)
            if example:
                dest = os.path.join(top, example)
                if not os.path.isdir(os.path.dirname(dest)):
                    folder = os.path.relpath(os.path.dirname(dest), top)
                    fail(f"{where} {example}",
                         f"folder {folder}/ does not exist: no block before it creates it")
                    continue
                with open(dest, "w", encoding="utf-8") as f:
                    f.write(b.body)
                unused[example] = where
                print(f"--- wrote {example} from {where}")
    for example, where in unused.items():
        fail(f"{where} {example}", "no shell block after it builds or runs it")
    out.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

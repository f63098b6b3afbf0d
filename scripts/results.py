#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The result lines of the test stages, defined here once. A stage's checks write them, one
a line, into *.txt files of the stage's results folder ($NTSRCH_RESULTS), and
scripts/stage_results.py counts them:

    pass NAME
    fail NAME[: WHY]
    skip NAME: WHY
    note TEXT           (shown under the stage, counted as nothing)

Python scripts import it (sys.path holds scripts/) and use line() and parse(); shell
scripts run it:  scripts/results.py KIND NAME [WHY]  prints the line.
"""

import sys
from typing import Optional, Tuple

KINDS = ("pass", "fail", "skip", "note")


def _one_line(text: str) -> str:
    return " ".join(text.split())


def line(kind: str, name: str, why: Optional[str] = None) -> str:
    """One result line; NAME and WHY are folded onto one line."""
    if kind not in KINDS:
        raise ValueError(f"result kind {kind!r} is none of {', '.join(KINDS)}")
    if kind == "skip" and not (why or "").strip():
        raise ValueError(f"skip {name}: a skip says why")
    name = _one_line(name)
    if not name:
        raise ValueError("a result names what it is about")
    return f"{kind} {name}: {_one_line(why)}" if why and why.strip() else f"{kind} {name}"


def parse(text: str) -> Optional[Tuple[str, str]]:
    """(kind, the rest) of a result line; None for any other line."""
    word, _, rest = text.strip().partition(" ")
    return (word, rest) if word in KINDS and rest else None


def main(argv) -> int:
    if len(argv) not in (3, 4):
        print("usage: scripts/results.py pass|fail|skip|note NAME [WHY]", file=sys.stderr)
        return 2
    try:
        print(line(*argv[1:]))
    except ValueError as e:
        print(f"results.py: {e}", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

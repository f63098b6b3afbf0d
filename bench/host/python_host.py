#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Python host bench: the binding against plain Python doing the same job from the same
input, string to string and bytes to bytes, at 100, 10k and 100k tracks.

Plain Python is json.loads, a list filter (title, else artist, contains the query, ASCII
case folded only), sorted (stable, the module's keys) and json.dumps (compact,
ensure_ascii=False); bytes to bytes adds the UTF-8 decode and encode. The four ways are
run in turn, round after round, and the medians compared; each case's results are checked
equal first. The module is $NTSRCH_MODULE, else build/nortavel-nortaveltune-search-client.so.

Then the downloaded cases at 10k x 10k and 100k x 100k (tracks x downloaded URLs): each URL
shape, a list naming half or all of the tracks, downloaded-only and downloaded-first,
against json.loads, a set of the list's strings and json.dumps (goal: str->str >= 3x).

Usage: python_host.py [--data DIR] [--rounds N] [--sizes N,N,...] [--dl-sizes N,N,...]
DIR holds gen_data.py's files (written there when missing); default: a temporary folder.
"""

import argparse
import gc
import json
import os
import shutil
import statistics
import string
import sys
import tempfile
import time
from typing import Any, Callable, Dict, List, Optional, Tuple

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bindings", "python"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gen_data  # noqa: E402
import ntsrch  # noqa: E402

GOAL_STR, GOAL_BYTES, GOAL_SIZE = 3.0, 5.0, 100000
GOAL_DL_STR = 3.0
# (name, query, sort mode); None marks normalize.
CASES: List[Tuple[str, Optional[str], Optional[int]]] = [
    ("all tracks", None, ntsrch.SortMode.NONE),
    ('filter "love"', "love", ntsrch.SortMode.NONE),
    ("by title", None, ntsrch.SortMode.TITLE_ASC),
    ('"love" by title', "love", ntsrch.SortMode.TITLE_ASC),
    ("newest", None, ntsrch.SortMode.NEWEST_FIRST),
    ("normalize", None, None),
]
FOLD = str.maketrans(string.ascii_uppercase, string.ascii_lowercase)


def folded(track: Dict[str, Any], key: str) -> str:
    value = track.get(key)
    return value.translate(FOLD) if isinstance(value, str) else ""


def published(track: Dict[str, Any]) -> float:
    value = track.get("publishTimestamp")
    return value if isinstance(value, (int, float)) and not isinstance(value, bool) else 0


def plain_filter(tracks: Any, query: Optional[str], sort: int) -> List[Any]:
    q = (query or "").strip().translate(FOLD)
    kept = [t for t in tracks if isinstance(t, dict)
            and (not q or q in folded(t, "title") or q in folded(t, "artist"))]
    if sort == ntsrch.SortMode.TITLE_ASC:
        kept.sort(key=lambda t: folded(t, "title"))
    elif sort == ntsrch.SortMode.NEWEST_FIRST:
        kept.sort(key=lambda t: -published(t))
    return kept


def plain_normalize(unified: Any) -> Dict[str, Any]:
    local = unified.get("tracks") if isinstance(unified.get("tracks"), list) else []
    catalogue = unified.get("catalogue") if isinstance(unified.get("catalogue"), dict) else {}
    found = [v for key in ("albums", "artists")
             for v in (catalogue.get(key) if isinstance(catalogue.get(key), list) else [])]
    return {"localCount": len(local), "catalogueCount": len(found), "local": local,
            "catalogue": found}


def dumps(value: Any) -> str:
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def ways(lib: ntsrch.Library, text: str, data: bytes, query: Optional[str],
         sort: Optional[int]) -> Dict[str, Callable[[], Any]]:
    if sort is None:
        return {
            "binding str": lambda: lib.normalize_unified_results(text),
            "python str": lambda: dumps(plain_normalize(json.loads(text))),
            "binding bytes": lambda: lib.normalize_unified_results(data, output="bytes"),
            "python bytes": lambda: dumps(plain_normalize(
                json.loads(data.decode("utf-8")))).encode("utf-8"),
        }
    mode = sort
    return {
        "binding str": lambda: lib.filter_and_sort_tracks(text, query, sort=mode),
        "python str": lambda: dumps(plain_filter(json.loads(text), query, mode)),
        "binding bytes": lambda: lib.filter_and_sort_tracks(data, query, sort=mode,
                                                            output="bytes"),
        "python bytes": lambda: dumps(plain_filter(
            json.loads(data.decode("utf-8")), query, mode)).encode("utf-8"),
    }


def plain_downloaded(tracks: Any, downloaded: Any, first: bool) -> List[Any]:
    have = {u for u in downloaded if isinstance(u, str)} if isinstance(downloaded, list) else set()

    def down(t: Any) -> bool:
        u = t.get("streamURL")
        return isinstance(u, str) and u != "" and u in have
    objs = [t for t in tracks if isinstance(t, dict)]
    kept = [t for t in objs if down(t)]
    return kept + [t for t in objs if not down(t)] if first else kept


def downloaded_ways(lib: ntsrch.Library, tracks: bytes, dl: bytes,
                    first: bool) -> Dict[str, Callable[[], Any]]:
    t_text, d_text = tracks.decode("utf-8"), dl.decode("utf-8")
    only = not first
    sort = ntsrch.SortMode.DOWNLOADED_FIRST if first else ntsrch.SortMode.NONE
    return {
        "binding str": lambda: lib.filter_and_sort_tracks(t_text, None, only, d_text, sort),
        "python str": lambda: dumps(plain_downloaded(json.loads(t_text), json.loads(d_text),
                                                     first)),
        "binding bytes": lambda: lib.filter_and_sort_tracks(tracks, None, only, dl, sort,
                                                            output="bytes"),
        "python bytes": lambda: dumps(plain_downloaded(
            json.loads(tracks.decode("utf-8")), json.loads(dl.decode("utf-8")),
            first)).encode("utf-8"),
    }


def downloaded_rows(lib: ntsrch.Library, folder: str, sizes: List[int],
                    rounds: int) -> List[Tuple[int, str, Dict[str, float]]]:
    missing = [n for n in sizes if not os.path.isfile(
        os.path.join(folder, f"dl-{gen_data.SHAPES[-1]}-all-{n}.json"))]
    if missing:
        saved = sys.argv
        sys.argv = ["gen_data.py", "--downloaded", folder] + [str(n) for n in missing]
        try:
            gen_data.main()
        finally:
            sys.argv = saved
    rows = []
    for n in sizes:
        for shape in gen_data.SHAPES:
            with open(os.path.join(folder, f"tracks-{shape}-{n}.json"), "rb") as f:
                tracks = f.read()
            for which in ("half", "all"):
                with open(os.path.join(folder, f"dl-{shape}-{which}-{n}.json"), "rb") as f:
                    dl = f.read()
                for first in (False, True):
                    case = f"{shape} {which} {'first' if first else 'only'}"
                    fns = downloaded_ways(lib, tracks, dl, first)
                    check_same(case, {k: f() for k, f in fns.items()})
                    rows.append((n, case, measure(fns, rounds)))
    return rows


def check_same(case: str, results: Dict[str, Any]) -> None:
    text = results["binding str"]
    if results["binding bytes"] != text.encode("utf-8") or \
            results["python bytes"] != results["python str"].encode("utf-8"):
        raise SystemExit(f"{case}: str and bytes results differ")
    if text != results["python str"] and json.loads(text) != json.loads(results["python str"]):
        raise SystemExit(f"{case}: the binding and plain Python disagree")


def timed(fn: Callable[[], Any], repeat: int) -> float:
    start = time.perf_counter()
    for _ in range(repeat):
        fn()
    return (time.perf_counter() - start) / repeat


def measure(fns: Dict[str, Callable[[], Any]], rounds: int) -> Dict[str, float]:
    # Repeats so that one sample lasts about 20 ms at least, then alternates the ways.
    repeat = {k: max(1, int(0.02 / max(timed(f, 1), 1e-6))) for k, f in fns.items()}
    samples: Dict[str, List[float]] = {k: [] for k in fns}
    for _ in range(rounds):
        for k, f in fns.items():
            gc.collect()
            samples[k].append(timed(f, repeat[k]))
    return {k: statistics.median(v) for k, v in samples.items()}


def ensure_data(folder: str, sizes: List[int]) -> None:
    missing = [n for n in sizes
               if not all(os.path.isfile(os.path.join(folder, f"{kind}-{n}.json"))
                          for kind in ("tracks", "unified"))]
    if missing:
        saved = sys.argv
        sys.argv = ["gen_data.py", folder] + [str(n) for n in missing]
        try:
            gen_data.main()
        finally:
            sys.argv = saved


def print_table(label: str, width: int, rows: List[Tuple[int, str, Dict[str, float]]],
                goal: Callable[[int, float, float], Optional[bool]]) -> List[Tuple[int, str]]:
    """Prints binding against plain Python per row; goal(n, str ratio, bytes ratio) is None
    where a row has no goal. Returns the (n, case) rows that missed theirs."""
    head = (f"{label:>7}  {'case':<{width}}{'str: binding':>13}{'python':>9}{'ratio':>8}"
            f"{'bytes: binding':>16}{'python':>9}{'ratio':>8}  goal")
    print(head)
    print("-" * len(head))
    misses = []
    for n, case, t in rows:
        r_str = t["python str"] / t["binding str"]
        r_bytes = t["python bytes"] / t["binding bytes"]
        ok = goal(n, r_str, r_bytes)
        if ok is False:
            misses.append((n, case))
        print(f"{n:>7}  {case:<{width}}{t['binding str'] * 1e3:>13.2f}{t['python str'] * 1e3:>9.2f}"
              f"{r_str:>7.1f}x{t['binding bytes'] * 1e3:>16.2f}{t['python bytes'] * 1e3:>9.2f}"
              f"{r_bytes:>7.1f}x  {'' if ok is None else 'met' if ok else 'MISSED'}")
    return misses


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--data", help="folder of gen_data.py files (default: temporary)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--sizes", default="100,10000,100000")
    parser.add_argument("--dl-sizes", default="10000,100000")
    args = parser.parse_args()
    sizes = [int(n) for n in args.sizes.split(",")]
    dl_sizes = [int(n) for n in args.dl_sizes.split(",") if n]
    module = os.environ.get("NTSRCH_MODULE") or os.path.join(ROOT, "build", ntsrch.MODULE_FILE)
    lib = ntsrch.Library(path=module)
    folder = args.data or tempfile.mkdtemp(prefix="ntsrch-pybench-")
    try:
        ensure_data(folder, sizes)
        rows = []
        for n in sizes:
            files = {}
            for kind in ("tracks", "unified"):
                with open(os.path.join(folder, f"{kind}-{n}.json"), "rb") as f:
                    files[kind] = f.read()
            for case, query, sort in CASES:
                data = files["unified" if sort is None else "tracks"]
                fns = ways(lib, data.decode("utf-8"), data, query, sort)
                check_same(case, {k: f() for k, f in fns.items()})
                rows.append((n, case, measure(fns, args.rounds)))
        dl_rows = downloaded_rows(lib, folder, dl_sizes, args.rounds)
    finally:
        if args.data is None:
            shutil.rmtree(folder, ignore_errors=True)

    print(f"Python host bench: ntsrch binding against plain Python, median of {args.rounds} "
          f"alternated rounds (ms)")
    print(f"module: {os.path.relpath(lib.path, ROOT) if lib.path.startswith(ROOT) else lib.path}")
    misses = print_table("tracks", 16, rows, lambda n, r_str, r_bytes: None if n != GOAL_SIZE
                         else r_str >= GOAL_STR and r_bytes >= GOAL_BYTES)
    if GOAL_SIZE in sizes:
        print(f"goals at {GOAL_SIZE} tracks: str->str >= {GOAL_STR:g}x, bytes->bytes >= "
              f"{GOAL_BYTES:g}x: " + ("met in every case" if not misses else
                                     "missed in " + ", ".join(case for _, case in misses)))

    print("\nDownloaded cases, tracks x downloaded URLs alike: binding against json + a set, "
          "median (ms)")
    misses = print_table("n x m", 28, dl_rows, lambda n, r_str, r_bytes: r_str >= GOAL_DL_STR)
    if dl_rows:
        print(f"downloaded goal str->str >= {GOAL_DL_STR:g}x: " + ("met in every case" if not misses else
              "missed in " + ", ".join(f"{n} {case}" for n, case in misses)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

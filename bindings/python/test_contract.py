# SPDX-License-Identifier: MIT
"""Every row of bindings/contract/cases.json against the Python binding, sync and async,
with each of Python's byte types; a row Python cannot express is skipped with what it
lacks. One test per row."""

import asyncio
import datetime
import json
import math
import os
import unittest

import ntsrch

HERE = os.path.dirname(os.path.abspath(__file__))
CASES = json.load(open(os.path.join(HERE, "..", "contract", "cases.json"), encoding="utf-8"))["cases"]
HAVE = {"utf16", "json_value", "dynamic_types", "value_output", "unbounded_int",
        "output_argument", "parse"}
lib = ntsrch.Library()

HOST_VALUES = {
    "function": lambda given: (lambda: 1),
    "set": lambda given: {1},
    "date": lambda given: datetime.date(1970, 1, 1),
    "nan": lambda given: math.nan,
    "infinity": lambda given: math.inf,
    "-infinity": lambda given: -math.inf,
    "float": lambda given: given["number"],
    "instance": lambda given: object(),
    "bytes": lambda given: b"\x01",
    "complex": lambda given: 1.5j,
    "int_key_object": lambda given: {"title": "a", 3: "x"},
    "null_key_object": lambda given: {None: 1},
}
BYTE_KINDS = [
    ("bytes", bytes),
    ("bytearray", bytearray),
    ("memoryview at an offset", lambda b: memoryview(b"xx" + b + b"yy")[2:2 + len(b)]),
]
KINDS = {"type": TypeError, "value": ValueError, "range": ValueError}


class Unexpressible(Exception):
    pass


def host_value(name, given):
    if name not in HOST_VALUES:
        raise Unexpressible(f"no {name} in Python")
    return HOST_VALUES[name](given)


def materialize(value):
    """A JSON value with {"$host": name} markers replaced; "cycle" is the value itself."""
    cycles = []

    def walk(v, parent, key):
        if isinstance(v, list):
            out = []
            for i, x in enumerate(v):
                out.append(walk(x, out, i))
            return out
        if isinstance(v, dict):
            if "$host" in v:
                if v["$host"] == "cycle":
                    cycles.append((parent, key))
                    return None
                return host_value(v["$host"], v)
            out = {}
            for k, x in v.items():
                out[k] = walk(x, out, k)
            return out
        return v

    root = walk(value, None, None)
    for parent, key in cycles:
        parent[key] = root
    return root


def argument(given, to_bytes):
    if given is None:
        return None
    if "text" in given:
        return given["text"]
    if "utf16" in given:
        units = b"".join(u.to_bytes(2, "little") for u in given["utf16"])
        return units.decode("utf-16-le", "surrogatepass")
    if "bytes_hex" in given:
        return to_bytes(bytes.fromhex(given["bytes_hex"]))
    if "value" in given:
        return materialize(given["value"])
    if "bool" in given:
        return given["bool"]
    if "int" in given:
        return given["int"]
    if "host" in given:
        return host_value(given["host"], given)
    raise AssertionError(f"unknown argument {given}")


def call_of(row, to_bytes):
    """The method name, positional and keyword arguments for the row's call."""
    a = {name: argument(given, to_bytes) for name, given in row["args"].items()}
    kw = {k: a[k] for k in ("parse",) if k in a}
    if "output" in row:
        kw["output"] = row["output"]
    if row["call"] == "build_search_url":
        return "build_search_url", [a["query"], a.get("base_url")], kw
    if row["call"] == "filter_and_sort_tracks":
        kw.update({k: a[k] for k in ("query", "downloaded_only", "downloaded", "sort") if k in a})
        return "filter_and_sort_tracks", [a["tracks"]], kw
    return "normalize_unified_results", [a["unified"]], kw


class Contract(unittest.TestCase):
    def check_result(self, row, got):
        result = row["result"]
        output = row.get("output", "value" if row["args"].get("parse", {}).get("bool") else "string")
        if output == "bytes":
            want = bytes.fromhex(result["bytes_hex"]) if "bytes_hex" in result else result["text"].encode()
            self.assertIs(type(got), bytes)
            self.assertEqual(got, want)
        elif output == "value":
            self.assertEqual(got, json.loads(result["text"]))
        else:
            self.assertIs(type(got), str)
            self.assertEqual(got, result["text"])

    def check_error(self, row, err):
        want = dict(row["error"], **row["error"].get("except", {}).get("python", {}))
        kind = want["kind"]
        if kind in ("refused", "out_of_memory"):
            self.assertIsInstance(err, ntsrch.NtsrchError, repr(err))
            self.assertEqual(isinstance(err, ntsrch.NtsrchMemoryError), kind == "out_of_memory")
            if "function" in want:
                self.assertEqual(err.function, want["function"])
            if "message" in want:
                self.assertEqual(err.last_error, want["message"])
            return
        self.assertIs(type(err), KINDS[kind], repr(err))
        prefix = want["param"] + want.get("path", "") + ": "
        if "message" in want:
            self.assertEqual(str(err), prefix + want["message"])
        else:
            self.assertTrue(str(err).startswith(prefix), f"<{err}> does not start with <{prefix}>")

    def run_row(self, row, to_bytes):
        name, args, kw = call_of(row, to_bytes)
        own_refusal = "error" in row and row["error"]["kind"] not in ("refused", "out_of_memory")
        for how in ("sync", "async"):
            with self.subTest(how=how):
                try:
                    lib.build_search_url(" ")
                except ntsrch.NtsrchError:
                    pass  # "empty query": the mark that no later call was made
                try:
                    if how == "sync":
                        got = getattr(lib, name)(*args, **kw)
                    else:
                        got = asyncio.run(getattr(lib, name + "_async")(*args, **kw))
                except Exception as e:  # pylint: disable=broad-except
                    self.assertIn("error", row, f"threw {e!r}")
                    self.check_error(row, e)
                    if how == "sync":
                        want = "empty query" if own_refusal else row["error"].get("message")
                        if want is not None:
                            self.assertEqual(lib.last_error(), want)
                    continue
                self.assertIn("result", row, f"no error; returned {got!r}")
                self.check_result(row, got)


def make_test(row):
    def test(self):
        lacking = sorted(set(row.get("needs", [])) - HAVE)
        if lacking:
            self.skipTest("lacks " + ", ".join(lacking))
        has_bytes = any(s is not None and "bytes_hex" in s for s in row["args"].values())
        try:
            call_of(row, bytes)
        except Unexpressible as e:
            self.skipTest(str(e))
        for kind, to_bytes in BYTE_KINDS if has_bytes else [("", bytes)]:
            with self.subTest(bytes=kind):
                self.run_row(row, to_bytes)
    test.__doc__ = row["name"]
    return test


for number, case in enumerate(CASES):
    setattr(Contract, f"test_{number:03d}", make_test(case))


if __name__ == "__main__":
    unittest.main()

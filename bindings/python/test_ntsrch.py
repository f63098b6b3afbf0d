# SPDX-License-Identifier: MIT
"""Tests of the Python binding. The module under test is the one Library() finds:
NTSRCH_MODULE (the build's module), else the package's bundled copy, else the system
library path."""

import asyncio
import ctypes
import ctypes.util
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
from unittest import mock

import ntsrch

lib = ntsrch.Library()


def loaded_file():
    """lib's module file; when it came by bare file name, the file the process mapped."""
    if os.path.isabs(lib.path):
        return lib.path
    with open("/proc/self/maps") as f:
        for line in f:
            fields = line.split()
            if len(fields) == 6 and os.path.basename(fields[5]) == ntsrch.MODULE_FILE:
                return fields[5]
    raise AssertionError(f"{ntsrch.MODULE_FILE} is not mapped")

def build_other_abi_module(folder):
    """A module with all eight exports that reports ABI 2; skips without a C compiler."""
    cc = shutil.which("cc") or shutil.which("gcc") or shutil.which("clang")
    if cc is None:
        raise unittest.SkipTest("no C compiler to build a module of another ABI")
    source = os.path.join(folder, "abi2.c")
    with open(source, "w") as f:
        f.write("const char *ntsrch_version(void) { return \"2.0.0\"; }\n"
                "int ntsrch_abi_version(void) { return 2; }\n"
                "const char *ntsrch_last_error(void) { return \"\"; }\n"
                "void ntsrch_free(void *p) {}\n"
                "char *ntsrch_build_search_url(const char *b, const char *q) { return 0; }\n"
                "char *ntsrch_filter_and_sort_tracks_json(const char *t, const char *q, int d,"
                " const char *l, int s) { return 0; }\n"
                "char *ntsrch_normalize_unified_results_json(const char *j, unsigned long n)"
                " { return 0; }\n"
                "int ntsrch_selftest(void) { return 0; }\n")
    module = os.path.join(folder, ntsrch.MODULE_FILE)
    subprocess.run([cc, "-shared", "-fPIC", "-o", module, source], check=True)
    return module


class Loading(unittest.TestCase):
    def test_version_information(self):
        self.assertEqual(lib.version(), "1.0.0")
        self.assertEqual(lib.abi_version(), ntsrch.ABI_VERSION)

    def test_every_function_is_bound(self):
        missing = [name for name in ntsrch._SIGNATURES if not lib.provides(name)]
        self.assertEqual(missing, [])

    def test_install_prefix_multiarch_or_not(self):
        for sub in ("lib", os.path.join("lib", "x86_64-linux-gnu"), "lib64"):
            with self.subTest(sub=sub), tempfile.TemporaryDirectory() as prefix:
                os.makedirs(os.path.join(prefix, sub))
                copy = os.path.join(prefix, sub, ntsrch.MODULE_FILE)
                shutil.copyfile(loaded_file(), copy)
                other = ntsrch.Library(prefix=prefix)
                self.assertEqual(other.path, copy)
                self.assertEqual(other.build_search_url("x", "https://h"),
                                 "https://h/search/api?q=x&format=json")
        with tempfile.TemporaryDirectory() as empty:
            with self.assertRaises(ntsrch.ModuleLoadError) as cm:
                ntsrch.Library(prefix=empty)
            self.assertEqual([p for p, _ in cm.exception.tried], [f"{empty} (prefix)"])
        self.assertRaises(ValueError, ntsrch.Library, path=lib.path, prefix="/usr")

    def test_binding_and_module_versions_agree(self):
        self.assertEqual(ntsrch.__version__, lib.version())

    def test_lookup_order(self):
        missing = os.path.join(tempfile.gettempdir(), "ntsrch-no-such-dir", ntsrch.MODULE_FILE)
        no_system = "ntsrch-no-such-module.so"
        real = loaded_file()
        cases = [
            # (NTSRCH_MODULE, bundled copy, system name, expected path or None: all fail)
            (real, missing, no_system, real),
            (missing, real, real, None),  # when set, the one place tried
            (None, real, no_system, real),
            (None, missing, real, real),
            (missing, missing, no_system, None),
            (None, missing, no_system, None),
        ]
        for env, bundled, system, expected in cases:
            environ = {k: v for k, v in os.environ.items() if k != "NTSRCH_MODULE"}
            if env is not None:
                environ["NTSRCH_MODULE"] = env
            with self.subTest(env=env, bundled=bundled), \
                    mock.patch.dict(os.environ, environ, clear=True), \
                    mock.patch.object(ntsrch, "BUNDLED_MODULE", bundled), \
                    mock.patch.object(ntsrch, "MODULE_FILE", system):
                if expected is not None:
                    self.assertEqual(ntsrch.Library().path, expected)
                    continue
                with self.assertRaises(ntsrch.ModuleLoadError) as cm:
                    ntsrch.Library()
                want = [f"{env} ($NTSRCH_MODULE)"] if env else \
                    [f"{bundled} (bundled)", f"{system} (system library path)"]
                self.assertEqual([place for place, _ in cm.exception.tried], want)
                for place, reason in cm.exception.tried:
                    self.assertTrue(reason)
                    self.assertIn(f"{place}: {reason}", str(cm.exception))
                self.assertIsInstance(cm.exception, OSError)

    def test_an_explicit_path_is_the_only_place_tried(self):
        missing = os.path.join(tempfile.gettempdir(), "ntsrch-no-such-dir", ntsrch.MODULE_FILE)
        with mock.patch.dict(os.environ, {"NTSRCH_MODULE": loaded_file()}):
            with self.assertRaises(OSError) as cm:
                ntsrch.Library(path=missing)
        self.assertIsInstance(cm.exception, ntsrch.ModuleLoadError)
        self.assertEqual([place for place, _ in cm.exception.tried], [missing])
        self.assertIn(missing, str(cm.exception))

    def test_unusable_modules_are_passed_over_with_their_reason(self):
        real = loaded_file()
        with tempfile.TemporaryDirectory() as tmp:
            other_abi = build_other_abi_module(tmp)
            rows = [
                # (place, start of the reason it is refused with)
                (ctypes.util.find_library("m"), "does not export ntsrch_version, "),
                (os.path.join(tmp, "none", ntsrch.MODULE_FILE), os.path.join(tmp, "none")),
                (other_abi, "module ABI 2, this binding needs 1"),
            ]
            for place, reason in rows:
                if place is None:
                    continue  # no other library to load on this system
                # Passed over as the bundled copy, or as $NTSRCH_MODULE's one place.
                environ = {k: v for k, v in os.environ.items() if k != "NTSRCH_MODULE"}
                with self.subTest(place=place), \
                        mock.patch.dict(os.environ, environ, clear=True), \
                        mock.patch.object(ntsrch, "BUNDLED_MODULE", place), \
                        mock.patch.object(ntsrch, "MODULE_FILE", real):
                    if os.path.isfile(place):
                        self.assertEqual(ntsrch.Library().path, real)
                    with mock.patch.dict(os.environ, {"NTSRCH_MODULE": place}):
                        with self.assertRaises(ntsrch.ModuleLoadError) as alone:
                            ntsrch.Library()
                    self.assertEqual([p for p, _ in alone.exception.tried],
                                     [f"{place} ($NTSRCH_MODULE)"])
                    self.assertTrue(alone.exception.tried[0][1].startswith(reason),
                                    alone.exception.tried)
                    with self.assertRaises(ntsrch.ModuleLoadError) as explicit:
                        ntsrch.Library(path=place)
                    self.assertEqual(len(explicit.exception.tried), 1)
                    self.assertEqual(explicit.exception.tried[0][0], place)
                    self.assertTrue(explicit.exception.tried[0][1].startswith(reason))
                    self.assertIn(reason, str(explicit.exception))

    def test_a_truncated_module_is_passed_over_never_loaded(self):
        real = loaded_file()
        with open(real, "rb") as f:
            whole = f.read()
        # (bytes kept, what the headers need; None: more than kept)
        rows = [(whole[:n], n, None) for n in (100, 1000, 5000, 200000) if n < len(whole)]
        rows += [(pe_headers(), 600, 4096), (pe_headers()[:100], 100, 184),
                 (macho_headers(), 300, 12288), (macho_headers()[:20], 20, 32)]
        with tempfile.TemporaryDirectory() as tmp:
            file = os.path.join(tmp, ntsrch.MODULE_FILE)
            for data, n, need in rows:
                with open(file, "wb") as f:
                    f.write(data)
                for how in ("path", "env"):
                    with self.subTest(n=n, how=how), \
                            mock.patch.dict(os.environ, {"NTSRCH_MODULE": file}), \
                            self.assertRaises(ntsrch.ModuleLoadError) as cm:
                        ntsrch.Library(path=file) if how == "path" else ntsrch.Library()
                    reason = cm.exception.tried[0][1]
                    got = re.fullmatch(r"truncated: (\d+) bytes, headers need (\d+)", reason)
                    self.assertTrue(got, reason)
                    self.assertEqual(int(got[1]), n)
                    if need is None:
                        self.assertGreater(int(got[2]), n)
                    else:
                        self.assertEqual(int(got[2]), need)
            with open(file, "wb") as f:
                f.write(whole)
            self.assertEqual(ntsrch.Library(path=file).abi_version(), ntsrch.ABI_VERSION)


def pe_headers():
    """A PE file's headers alone: two sections, the second ending at 4096."""
    b = bytearray(600)
    b[0:2] = b"MZ"
    struct.pack_into("<I", b, 0x3C, 64)
    b[64:68] = b"PE\0\0"
    struct.pack_into("<HH", b, 64 + 6, 2, 0)
    struct.pack_into("<H", b, 64 + 20, 16)
    for i, (ptr, size) in enumerate([(512, 512), (1024, 3072)]):
        struct.pack_into("<II", b, 64 + 24 + 16 + i * 40 + 16, size, ptr)
    return bytes(b)


def macho_headers():
    """A 64-bit Mach-O file's headers alone: one segment ending at 12288."""
    b = bytearray(300)
    struct.pack_into("<I", b, 0, 0xFEEDFACF)
    struct.pack_into("<II", b, 16, 2, 72 + 16)
    struct.pack_into("<II", b, 32, 0x19, 72)
    struct.pack_into("<QQ", b, 32 + 40, 4096, 8192)
    struct.pack_into("<II", b, 32 + 72, 0x2, 16)
    return bytes(b)


def nested(depth, leaf=None):
    value = [] if leaf is None else leaf
    for _ in range(depth):
        value = [value]
    return value


class HostValues(unittest.TestCase):
    """Python values no case-table row carries, each refused before any call, naming the
    parameter and the path."""

    def test_refused(self):
        big = "an int of {} bits is outside the range of a JSON number"
        rows = [
            # (call, error, start of the message)
            (lambda: lib.filter_and_sort_tracks([{"n": 10 ** 400}]), ValueError,
             "tracks[0].n: " + big.format((10 ** 400).bit_length())),
            (lambda: lib.filter_and_sort_tracks([{"n": -10 ** 5000}]), ValueError,
             "tracks[0].n: " + big.format((10 ** 5000).bit_length())),
            (lambda: lib.normalize_unified_results({"tracks": [10 ** 309]}), ValueError,
             "unified.tracks[0]: " + big.format((10 ** 309).bit_length())),
            (lambda: lib.filter_and_sort_tracks([], downloaded=[{"k\udc00": 1}]), ValueError,
             'downloaded[0]: key "k\\udc00" not encodable as UTF-8 at character 1'),
            (lambda: lib.filter_and_sort_tracks(nested(sys.getrecursionlimit() * 5)), ValueError,
             "tracks: nested too deeply"),
            (lambda: lib.filter_and_sort_tracks('[{"t":' + "[" * 100000 + "]" * 100000 + "}]",
                                                output="value"), ValueError,
             "output: the result is nested too deeply for 'value'"),
        ]
        for call, error, message in rows:
            with self.subTest(message=message):
                with self.assertRaises(error) as cm:
                    call()
                self.assertTrue(str(cm.exception).startswith(message), str(cm.exception))
        # Near the recursion limit the check may pass where json.dumps does not: each
        # depth either goes through or is refused, never a RecursionError.
        for depth in range(sys.getrecursionlimit() - 80, sys.getrecursionlimit() + 1):
            with self.subTest(depth=depth):
                try:
                    self.assertEqual(lib.filter_and_sort_tracks(nested(depth)), "[]")
                except ValueError as e:
                    self.assertEqual(str(e), "tracks: nested too deeply")
        # The largest double's int still goes through, as the module reads it.
        self.assertEqual(lib.filter_and_sort_tracks([{"n": int(sys.float_info.max)}]),
                         '[{"n":1.7976931348623157e308}]')


class SearchUrl(unittest.TestCase):
    def test_builds(self):
        self.assertEqual(lib.build_search_url(" Été indien", "https://music.example//"),
                         "https://music.example/search/api?q=%C3%89t%C3%A9%20indien&format=json")
        self.assertEqual(lib.build_search_url(b"a+b", b""),
                         lib.build_search_url("a+b", None))

    def test_failures_carry_the_last_error_text(self):
        for query, message in ((None, "null query"), (" \t\n", "empty query")):
            with self.subTest(query=query), self.assertRaises(ntsrch.NtsrchError) as cm:
                lib.build_search_url(query)
            self.assertNotIsInstance(cm.exception, ntsrch.NtsrchMemoryError)
            self.assertEqual(cm.exception.last_error, message)
            self.assertEqual(cm.exception.function, "ntsrch_build_search_url")
            self.assertIn(message, str(cm.exception))
        lib.build_search_url("ok")
        self.assertEqual(lib.last_error(), "")

    def test_out_of_memory_is_its_own_exception(self):
        # A real allocation failure, in a child process whose address space is capped just
        # above what it uses before the call: the 3n+1-byte encoding buffer cannot fit.
        code = r"""
import resource, sys, ntsrch
lib = ntsrch.Library(path=sys.argv[1])
query = b"q" * (256 << 20)
with open("/proc/self/status") as f:
    vm = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (vm + (128 << 20),) * 2)
try:
    lib.build_search_url(query)
except ntsrch.NtsrchMemoryError as e:
    sys.exit(0 if e.last_error == "" and isinstance(e, MemoryError) else 3)
except ntsrch.NtsrchError as e:
    sys.exit(4)
sys.exit(5)
"""
        package_root = os.path.dirname(os.path.dirname(os.path.abspath(ntsrch.__file__)))
        env = dict(os.environ, PYTHONPATH=package_root)
        run = subprocess.run([sys.executable, "-c", code, lib.path], env=env,
                             capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)

    def test_every_owned_result_is_released_once(self):
        real = lib._fn["ntsrch_free"]
        released = []

        def tracing_free(p):
            released.append(p)
            real(p)

        lib._fn["ntsrch_free"] = tracing_free
        try:
            urls = [lib.build_search_url(f"q{i}") for i in range(50)]
            with self.assertRaises(ntsrch.NtsrchError):
                lib.build_search_url(None)
        finally:
            lib._fn["ntsrch_free"] = real
        self.assertEqual(len(released), 50)
        self.assertTrue(all(isinstance(p, int) and p for p in released))
        self.assertTrue(all(u.endswith(f"q=q{i}&format=json") for i, u in enumerate(urls)))


class TrackFilter(unittest.TestCase):
    TRACKS = [
        {"title": "Zeta", "artist": "B", "streamURL": "u1", "duration": 300,
         "publishTimestamp": 10},
        {"title": "Alpha", "artist": "A", "streamURL": "u2", "duration": 120,
         "publishTimestamp": 20},
        7,
    ]

    def test_sort_modes(self):
        cases = [
            (ntsrch.SortMode.NONE, ["Zeta", "Alpha"]),
            (ntsrch.SortMode.TITLE_ASC, ["Alpha", "Zeta"]),
            (ntsrch.SortMode.ARTIST_ASC, ["Alpha", "Zeta"]),
            (ntsrch.SortMode.NEWEST_FIRST, ["Alpha", "Zeta"]),
            (ntsrch.SortMode.SHORTEST_FIRST, ["Alpha", "Zeta"]),
            (ntsrch.SortMode.DOWNLOADED_FIRST, ["Zeta", "Alpha"]),
        ]
        for sort, titles in cases:
            with self.subTest(sort=sort):
                got = lib.filter_and_sort_tracks(self.TRACKS, downloaded=["u1"], sort=sort,
                                                 parse=True)
                self.assertEqual([t["title"] for t in got], titles)

    def test_text_or_parsed(self):
        text = lib.filter_and_sort_tracks(json.dumps(self.TRACKS), query=" b ",
                                          downloaded_only=True, downloaded='["u1"]')
        self.assertEqual(text, '[{"title":"Zeta","artist":"B","streamURL":"u1",'
                               '"duration":300,"publishTimestamp":10}]')
        self.assertEqual(lib.filter_and_sort_tracks(b"[]", parse=True), [])

    def test_errors(self):
        for tracks, message in ((None, "null tracks_json"), ("{}", "tracks_json must be array"),
                                ("[", "tracks_json must be array")):
            with self.subTest(tracks=tracks), self.assertRaises(ntsrch.NtsrchError) as cm:
                lib.filter_and_sort_tracks(tracks)
            self.assertEqual(cm.exception.last_error, message)


class UnifiedResults(unittest.TestCase):
    def test_reshapes(self):
        unified = {"tracks": [1, "x"], "catalogue": {"artists": ["b"], "albums": ["a"]}}
        self.assertEqual(lib.normalize_unified_results(unified, parse=True),
                         {"localCount": 2, "catalogueCount": 2, "local": [1, "x"],
                          "catalogue": ["a", "b"]})
        self.assertEqual(lib.normalize_unified_results('{"tracks":["é"]}'),
                         '{"localCount":1,"catalogueCount":0,"local":["é"],"catalogue":[]}')

    def test_errors(self):
        for text, message in ((None, "null json"), ("[]", "invalid search json"),
                              (b"", "invalid search json"), ("{} x", "invalid search json")):
            with self.subTest(text=text), self.assertRaises(ntsrch.NtsrchError) as cm:
                lib.normalize_unified_results(text)
            self.assertEqual(cm.exception.last_error, message)


class Threads(unittest.TestCase):
    def test_selftest(self):
        with self.assertRaises(ntsrch.NtsrchError):
            lib.build_search_url(None)
        self.assertEqual(lib.selftest(), 0)
        self.assertEqual(lib.last_error(), "")

    def test_fresh_thread_has_no_message(self):
        seen = []
        with self.assertRaises(ntsrch.NtsrchError):
            lib.build_search_url(None)
        t = threading.Thread(target=lambda: seen.append(lib.last_error()))
        t.start()
        t.join()
        self.assertEqual(seen, [""])

    def test_many_threads_each_read_their_own_message(self):
        # Calls release the GIL, so these really overlap inside the module.
        jobs = [(None, "null query"), ("  ", "empty query"), ("{}", "tracks_json must be array"),
                ("[1]", "invalid search json")]
        calls = {
            "null query": lib.build_search_url, "empty query": lib.build_search_url,
            "tracks_json must be array": lib.filter_and_sort_tracks,
            "invalid search json": lib.normalize_unified_results,
        }
        threads, wrong, start = [], [], threading.Barrier(8)

        def work(arg, message):
            start.wait()
            for i in range(500):
                try:
                    calls[message](arg)
                    wrong.append((message, "no error"))
                except ntsrch.NtsrchError as e:
                    if e.last_error != message:
                        wrong.append((message, e.last_error))
                if not lib.build_search_url(f"ok {i}").endswith(f"q=ok%20{i}&format=json"):
                    wrong.append((message, "bad url"))
                if lib.last_error() != "":
                    wrong.append((message, "message left after success"))

        for n in range(8):
            threads.append(threading.Thread(target=work, args=jobs[n % len(jobs)]))
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(wrong, [])


PRODUCING = ("ntsrch_build_search_url", "ntsrch_filter_and_sort_tracks_json",
             "ntsrch_normalize_unified_results_json")


class RecordedCalls:
    """Puts recorders around lib's producing functions: calls holds (name, arguments)."""

    def __enter__(self):
        self.calls, self.saved = [], dict(lib._fn)
        for name in PRODUCING:
            def record(*args, _name=name, _real=self.saved[name]):
                self.calls.append((_name, args))
                return _real(*args)
            lib._fn[name] = record
        return self

    def __exit__(self, *exc):
        lib._fn.clear()
        lib._fn.update(self.saved)


URL = lib.build_search_url
FILTER = lib.filter_and_sort_tracks
NORMALIZE = lib.normalize_unified_results
NAN_TRACK = [{"title": "a", "duration": math.nan}]
CYCLE = [{"title": "a"}]
CYCLE[0]["self"] = CYCLE


class InputRules(unittest.TestCase):
    # (call, error type, exact message): each is refused before any call into the module.
    ROWS = [
        # embedded NUL, offset in UTF-8 bytes, in every kind of text
        (lambda: URL("a\x00b"), ValueError, "query: embedded NUL at byte 1"),
        (lambda: URL("é\x00"), ValueError, "query: embedded NUL at byte 2"),
        (lambda: URL(b"ab\x00"), ValueError, "query: embedded NUL at byte 2"),
        (lambda: URL(bytearray(b"\x00")), ValueError, "query: embedded NUL at byte 0"),
        (lambda: URL(memoryview(b"xa\x00")[1:]), ValueError, "query: embedded NUL at byte 1"),
        (lambda: URL("q", "https://h\x00x"), ValueError, "base_url: embedded NUL at byte 9"),
        (lambda: FILTER('[{"title":"a"}]\x00junk'), ValueError,
         "tracks: embedded NUL at byte 15"),
        (lambda: FILTER("[]", "\x00"), ValueError, "query: embedded NUL at byte 0"),
        (lambda: FILTER("[]", downloaded=b'["u"]\x00'), ValueError,
         "downloaded: embedded NUL at byte 5"),
        (lambda: NORMALIZE('{"tracks":[]}\x00x'), ValueError, "unified: embedded NUL at byte 13"),
        (lambda: NORMALIZE(bytearray(b'{}\x00')), ValueError, "unified: embedded NUL at byte 2"),
        (lambda: NORMALIZE(memoryview(bytearray(b'\x00{}'))), ValueError,
         "unified: embedded NUL at byte 0"),
        # text that is not UTF-8
        (lambda: URL("\ud800"), ValueError, "query: not encodable as UTF-8 at character 0"),
        (lambda: URL("q", b"https://h\xff"), ValueError, "base_url: not valid UTF-8 at byte 9"),
        (lambda: URL("q", bytearray(b"\xc3")), ValueError, "base_url: not valid UTF-8 at byte 0"),
        # wrong types of text
        (lambda: URL(123), TypeError,
         "query: expected str, bytes, bytearray, memoryview or None, got int"),
        (lambda: URL({"a": 1}), TypeError,
         "query: expected str, bytes, bytearray, memoryview or None, got dict"),
        (lambda: URL("q", ["https://h"]), TypeError,
         "base_url: expected str, bytes, bytearray, memoryview or None, got list"),
        (lambda: FILTER("[]", query=b"x".decode), TypeError,
         "query: expected str, bytes, bytearray, memoryview or None, "
         "got builtin_function_or_method"),
        # JSON values checked all the way down
        (lambda: FILTER(42), TypeError,
         "tracks: expected str, bytes, bytearray, memoryview or None, got int"),
        (lambda: FILTER({1, 2}), TypeError,
         "tracks: expected str, bytes, bytearray, memoryview or None, got set"),
        (lambda: FILTER(NAN_TRACK), ValueError, "tracks[0].duration: nan is not a JSON number"),
        (lambda: FILTER([{"t": [1, -math.inf]}]), ValueError,
         "tracks[0].t[1]: -inf is not a JSON number"),
        (lambda: FILTER([], downloaded=("u", math.inf)), ValueError,
         "downloaded[1]: inf is not a JSON number"),
        (lambda: NORMALIZE({"tracks": [{"a b": float("nan")}]}), ValueError,
         'unified.tracks[0]["a b"]: nan is not a JSON number'),
        (lambda: FILTER([{"title": "a", 3: "x"}]), TypeError, "tracks[0]: key 3 is not a str"),
        (lambda: NORMALIZE({None: 1}), TypeError, "unified: key None is not a str"),
        (lambda: FILTER([{"tags": {"x"}}]), TypeError, "tracks[0].tags: set is not a JSON value"),
        (lambda: FILTER([b"raw"]), TypeError, "tracks[0]: bytes is not a JSON value"),
        (lambda: FILTER([object()]), TypeError, "tracks[0]: object is not a JSON value"),
        (lambda: FILTER([1.5j]), TypeError, "tracks[0]: complex is not a JSON value"),
        (lambda: FILTER(CYCLE), ValueError, "tracks[0].self: circular reference"),
        # sort: an int in C int range, not a bool or a string
        (lambda: FILTER("[]", sort=2**32 + 1), ValueError,
         "sort: 4294967297 is outside the C int range [-2147483648, 2147483647]"),
        (lambda: FILTER("[]", sort=2**31), ValueError,
         "sort: 2147483648 is outside the C int range [-2147483648, 2147483647]"),
        (lambda: FILTER("[]", sort=-2**31 - 1), ValueError,
         "sort: -2147483649 is outside the C int range [-2147483648, 2147483647]"),
        (lambda: FILTER("[]", sort=True), TypeError, "sort: expected int or SortMode, got bool"),
        (lambda: FILTER("[]", sort="1"), TypeError, "sort: expected int or SortMode, got str"),
        (lambda: FILTER("[]", sort=1.0), TypeError, "sort: expected int or SortMode, got float"),
        (lambda: FILTER("[]", sort=None), TypeError,
         "sort: expected int or SortMode, got NoneType"),
        # downloaded_only: a bool and nothing else
        (lambda: FILTER("[]", downloaded_only=1), TypeError,
         "downloaded_only: expected bool, got int"),
        (lambda: FILTER("[]", downloaded_only="yes"), TypeError,
         "downloaded_only: expected bool, got str"),
        (lambda: FILTER("[]", downloaded_only=None), TypeError,
         "downloaded_only: expected bool, got NoneType"),
        # output choice
        (lambda: FILTER("[]", output="xml"), ValueError,
         "output: expected 'string', 'bytes' or 'value', got 'xml'"),
        (lambda: NORMALIZE("{}", output=None), ValueError,
         "output: expected 'string', 'bytes' or 'value', got None"),
        (lambda: URL("q", output="value"), ValueError,
         "output: a URL is not JSON; use 'string' or 'bytes'"),
        (lambda: FILTER("[]", output="bytes", parse=True), ValueError,
         "parse: parse=True means output='value', not 'bytes'"),
        (lambda: NORMALIZE("{}", parse=1), TypeError, "parse: expected bool, got int"),
    ]

    def test_refused_before_any_call(self):
        for i, (call, error, message) in enumerate(self.ROWS):
            with self.subTest(row=i, message=message), RecordedCalls() as rec:
                with self.assertRaises(error) as cm:
                    call()
                self.assertEqual(str(cm.exception), message)
                self.assertEqual(rec.calls, [])

    def test_accepted_inputs_reach_the_module_whole(self):
        # (call, what the module answers): checks that pass let the whole input through.
        rows = [
            (lambda: FILTER('[{"title":"a\\u0000b"}]', output="value"), [{"title": "a\x00b"}]),
            (lambda: FILTER([{"title": "a\x00b"}], output="value"), [{"title": "a\x00b"}]),
            (lambda: FILTER([{"n": 2**70, "t": (1, True, None)}], output="value"),
             [{"n": 2**70, "t": [1, True, None]}]),
            (lambda: FILTER(({"title": "B"}, {"title": "a"}), sort=ntsrch.SortMode.TITLE_ASC,
                            output="value"), [{"title": "a"}, {"title": "B"}]),
            # an unknown mode in range keeps input order, as the module does
            (lambda: FILTER('[{"title":"b"},{"title":"a"}]', sort=2**31 - 1, output="value"),
             [{"title": "b"}, {"title": "a"}]),
            (lambda: FILTER('[{"title":"b"},{"title":"a"}]', sort=-2**31, output="value"),
             [{"title": "b"}, {"title": "a"}]),
            (lambda: FILTER('[{"streamURL":"u"},{"streamURL":"v"}]', downloaded_only=True,
                            downloaded=memoryview(b'["v"]'), output="value"),
             [{"streamURL": "v"}]),
            (lambda: NORMALIZE(memoryview(b'{"tracks":[1,2,3]}'), output="value"),
             {"localCount": 3, "catalogueCount": 0, "local": [1, 2, 3], "catalogue": []}),
            (lambda: NORMALIZE(memoryview(b'x{"tracks":[1]}')[1:], output="value"),
             {"localCount": 1, "catalogueCount": 0, "local": [1], "catalogue": []}),
            (lambda: NORMALIZE(bytearray(b'{"tracks":["\xc3\xa9"]}'), output="value"),
             {"localCount": 1, "catalogueCount": 0, "local": ["é"], "catalogue": []}),
            (lambda: URL(bytearray(b"a b"), memoryview(b"https://h")),
             "https://h/search/api?q=a%20b&format=json"),
            (lambda: URL(b"\xff", "https://h"), "https://h/search/api?q=%FF&format=json"),
            (lambda: URL("q", b"https://h\xff", output="bytes"),
             b"https://h\xff/search/api?q=q&format=json"),
        ]
        for i, (call, want) in enumerate(rows):
            with self.subTest(row=i):
                self.assertEqual(call(), want)

    def test_module_refusals_stay_module_errors(self):
        rows = [
            (lambda: URL(None), "null query"),
            (lambda: FILTER(None), "null tracks_json"),
            (lambda: FILTER(b"\xff[]"), "tracks_json must be array"),
            (lambda: NORMALIZE(None), "null json"),
            (lambda: NORMALIZE(bytearray(b"\xff{}")), "invalid search json"),
        ]
        for i, (call, message) in enumerate(rows):
            with self.subTest(row=i), self.assertRaises(ntsrch.NtsrchError) as cm:
                call()
            self.assertEqual(cm.exception.last_error, message)


class OutputChoice(unittest.TestCase):
    TRACKS = '[{"title":"Été"},{"title":"Alpha"}]'
    SORTED = '[{"title":"Alpha"},{"title":"Été"}]'
    UNIFIED = '{"tracks":["é"]}'
    NORMAL = '{"localCount":1,"catalogueCount":0,"local":["é"],"catalogue":[]}'

    def test_each_choice_returns_its_type_sync_and_async(self):
        url = "https://h/search/api?q=%C3%A9&format=json"
        rows = [  # (function, arguments, keywords, expected result)
            ("build_search_url", ("é", "https://h"), {}, url),
            ("build_search_url", ("é", "https://h"), {"output": "string"}, url),
            ("build_search_url", ("é", "https://h"), {"output": "bytes"}, url.encode()),
        ]
        for given, kw, want in (((self.TRACKS,), {"sort": 1}, self.SORTED),
                                ((self.TRACKS.encode(),), {"sort": 1}, self.SORTED),
                                ((self.TRACKS, "ALP", False, None, 1), {}, '[{"title":"Alpha"}]')):
            rows += [("filter_and_sort_tracks", given, kw, want)]
        for given, want in (((self.UNIFIED,), self.NORMAL),
                            ((bytearray(self.UNIFIED.encode()),), self.NORMAL)):
            rows += [("normalize_unified_results", given, {}, want)]
        for name, given, kw, want in rows[3:]:
            rows += [
                (name, given, dict(kw, output="string"), want),
                (name, given, dict(kw, output="bytes"), want.encode()),
                (name, given, dict(kw, output="value"), json.loads(want)),
                (name, given, dict(kw, parse=True), json.loads(want)),
                (name, given, dict(kw, output="value", parse=True), json.loads(want)),
            ]
        for i, (name, given, kw, want) in enumerate(rows):
            for how in ("sync", "async"):
                with self.subTest(row=i, how=how, kw=kw):
                    if how == "sync":
                        got = getattr(lib, name)(*given, **kw)
                    else:
                        got = run_async(getattr(lib, name + "_async")(*given, **kw))
                    self.assertIs(type(got), type(want))
                    self.assertEqual(got, want)


class Copies(unittest.TestCase):
    def test_bytes_reach_the_module_as_they_are(self):
        data, query, down = b'[{"title":"a"}]', b"a", b"[]"
        whole = bytearray(b'{"tracks":[]}')
        unified = bytes(whole)
        rows = [
            (lambda: FILTER(data, query, False, down), [data, query, None, down, None]),
            (lambda: FILTER(memoryview(data)), [data, None, None, None, None]),
            (lambda: URL(query, memoryview(data)), [data, query]),
            (lambda: NORMALIZE(unified), [unified, len(unified)]),
        ]
        for i, (call, same) in enumerate(rows):
            with self.subTest(row=i), RecordedCalls() as rec:
                call()
                args = rec.calls[0][1]
                for arg, want in zip(args, same):
                    if isinstance(want, bytes):
                        self.assertIs(arg, want)
                    elif want is not None:
                        self.assertEqual(arg, want)
        for given in (whole, memoryview(whole)):
            with self.subTest(given=type(given).__name__), RecordedCalls() as rec:
                self.assertEqual(NORMALIZE(given, output="value")["localCount"], 0)
                arg, length = rec.calls[0][1]
                # the bytearray's own storage, not a copy of it
                self.assertEqual(ctypes.addressof(arg),
                                 ctypes.addressof((ctypes.c_char * 1).from_buffer(whole)))
                self.assertEqual(length, len(whole))


def run_async(coroutine):
    return asyncio.run(coroutine)


class Async(unittest.TestCase):
    def test_failures_carry_the_exact_message(self):
        jobs = [
            (lambda: lib.build_search_url_async(None), "null query"),
            (lambda: lib.build_search_url_async(" \t"), "empty query"),
            (lambda: lib.filter_and_sort_tracks_async("{}"), "tracks_json must be array"),
            (lambda: lib.normalize_unified_results_async("[]"), "invalid search json"),
            (lambda: lib.build_search_url_async("ok", "https://h"),
             "https://h/search/api?q=ok&format=json"),
        ]

        async def many():
            made = [jobs[i % len(jobs)] for i in range(200)]
            got = await asyncio.gather(*(make() for make, _ in made), return_exceptions=True)
            return [(want, g) for (_, want), g in zip(made, got)]

        for want, got in run_async(many()):
            if want.startswith("https:"):
                self.assertEqual(got, want)
            else:
                self.assertIsInstance(got, ntsrch.NtsrchError)
                self.assertEqual(got.last_error, want)

    def test_bad_input_raises_on_await_before_any_call(self):
        rows = [
            (lambda: lib.build_search_url_async("a\x00"), ValueError),
            (lambda: lib.filter_and_sort_tracks_async("[]", sort=True), TypeError),
            (lambda: lib.filter_and_sort_tracks_async(NAN_TRACK), ValueError),
            (lambda: lib.normalize_unified_results_async(7), TypeError),
            (lambda: lib.normalize_unified_results_async("{}", output="xml"), ValueError),
        ]
        for i, (make, error) in enumerate(rows):
            with self.subTest(row=i), RecordedCalls() as rec:
                coroutine = make()
                with self.assertRaises(error):
                    run_async(coroutine)
                self.assertEqual(rec.calls, [])

    def test_another_thread_runs_during_a_100k_track_call(self):
        # While the C call runs, a waiting thread must get the interpreter and signal. The
        # switch interval is raised far above the call's length, so a call that kept the
        # GIL would let the other thread in only after it returned: the signal would be
        # missing when the call ends. A busy machine may not schedule the thread in time,
        # hence a few calls.
        tracks = json.dumps([{"title": f"Love {i}", "artist": "A", "streamURL": f"u{i}",
                              "publishTimestamp": i} for i in range(100000)]).encode()
        real = lib._fn["ntsrch_filter_and_sort_tracks_json"]
        seen = []

        def call_with_witness(*args):
            started, progressed, done = (threading.Event() for _ in range(3))

            def witness():
                started.wait()
                progressed.set()
                done.wait()

            thread = threading.Thread(target=witness)
            thread.start()
            started.set()
            try:
                return real(*args)
            finally:
                seen.append(progressed.is_set())
                done.set()
                thread.join()

        interval = sys.getswitchinterval()
        sys.setswitchinterval(30.0)
        lib._fn["ntsrch_filter_and_sort_tracks_json"] = call_with_witness
        try:
            for _ in range(5):
                out = run_async(lib.filter_and_sort_tracks_async(
                    tracks, "love", sort=ntsrch.SortMode.NEWEST_FIRST, output="bytes"))
                self.assertTrue(out.startswith(b'[{"title":"Love 99999"'))
                if seen[-1]:
                    break
        finally:
            lib._fn["ntsrch_filter_and_sort_tracks_json"] = real
            sys.setswitchinterval(interval)
        self.assertTrue(seen[-1], seen)


class SortModeEnum(unittest.TestCase):
    def test_values_match_the_header(self):
        header = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                              "include", "ntsrch.h")
        with open(header) as f:
            defined = {parts[1][len("NTSRCH_SORT_"):]: int(parts[2])
                       for parts in (line.split() for line in f)
                       if len(parts) == 3 and parts[0] == "#define"
                       and parts[1].startswith("NTSRCH_SORT_")}
        self.assertEqual(defined, {m.name: m.value for m in ntsrch.SortMode})


if __name__ == "__main__":
    unittest.main()

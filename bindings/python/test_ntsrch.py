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


# The inputs, outputs and refusals of every call are rows of bindings/contract/cases.json,
# run by test_contract.py; what follows is Python's own.
class PythonValues(unittest.TestCase):
    def test_tuples_and_ints_of_any_size_are_json(self):
        rows = [
            (lambda: FILTER([{"n": 2**70, "t": (1, True, None)}], output="value"),
             [{"n": 2**70, "t": [1, True, None]}]),
            (lambda: FILTER(({"title": "B"}, {"title": "a"}), sort=ntsrch.SortMode.TITLE_ASC,
                            output="value"), [{"title": "a"}, {"title": "B"}]),
            (lambda: FILTER("[]", sort=ntsrch.SortMode.DOWNLOADED_FIRST), "[]"),
        ]
        for i, (call, want) in enumerate(rows):
            with self.subTest(row=i):
                self.assertEqual(call(), want)


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


if __name__ == "__main__":
    unittest.main()

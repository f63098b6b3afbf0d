# SPDX-License-Identifier: MIT
"""Tests of the Python binding. The module under test is the one Library() finds:
NTSRCH_MODULE (the build's module), else the package's bundled copy, else the system
library path."""

import json
import os
import shutil
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
            self.assertRaises(FileNotFoundError, ntsrch.Library, prefix=empty)
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
            (missing, real, no_system, real),
            (None, real, no_system, real),
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
                want = ([f"{env} ($NTSRCH_MODULE)"] if env else []) + \
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
        self.assertNotIsInstance(cm.exception, ntsrch.ModuleLoadError)
        self.assertIn(missing, str(cm.exception))


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

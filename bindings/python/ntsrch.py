# SPDX-License-Identifier: MIT
"""Python binding of the ntsrch search client module (standard library ctypes only).

    import ntsrch
    lib = ntsrch.Library()                    # by file name, from the system library path
    lib = ntsrch.Library(path="/opt/app/nortavel-nortaveltune-search-client.so")
    lib = ntsrch.Library(prefix="/usr/local")  # from an install prefix
    lib.build_search_url("night skies")
    lib.filter_and_sort_tracks(tracks_json, query="sky", sort=ntsrch.SortMode.TITLE_ASC,
                               parse=True)

Every string the module returns is taken as a raw pointer, copied into Python and released
with ntsrch_free before the call returns, so nothing leaks and nothing is freed twice. A
failed call raises NtsrchError carrying the module's last-error text, read on the thread
that made the call; a failure for lack of memory raises NtsrchMemoryError instead.
Calls release the GIL and may be made from any number of threads at once.
"""

import ctypes
import enum
import json
import os

__all__ = ["Library", "SortMode", "NtsrchError", "NtsrchMemoryError", "MODULE_FILE",
           "ABI_VERSION"]

MODULE_FILE = "nortavel-nortaveltune-search-client.so"
ABI_VERSION = 1


class SortMode(enum.IntEnum):
    """Orders of filter_and_sort_tracks (NTSRCH_SORT_* in the C header)."""
    NONE = 0
    TITLE_ASC = 1
    ARTIST_ASC = 2
    NEWEST_FIRST = 3
    SHORTEST_FIRST = 4
    DOWNLOADED_FIRST = 5


class NtsrchError(Exception):
    """A call was refused because of its input; last_error is the module's message."""

    def __init__(self, function, last_error):
        super().__init__(f"{function}: {last_error}" if last_error else
                         f"{function}: out of memory")
        self.function = function
        self.last_error = last_error


class NtsrchMemoryError(NtsrchError, MemoryError):
    """A call failed for lack of memory; the module leaves no message then."""


# Owned results are c_void_p: c_char_p would copy the text and drop the pointer, which
# could then never be released. The version and last-error texts belong to the module, so
# copying them is all there is to do.
_SIGNATURES = {
    "ntsrch_version": (ctypes.c_char_p, []),
    "ntsrch_abi_version": (ctypes.c_int, []),
    "ntsrch_last_error": (ctypes.c_char_p, []),
    "ntsrch_free": (None, [ctypes.c_void_p]),
    "ntsrch_build_search_url": (ctypes.c_void_p, [ctypes.c_char_p, ctypes.c_char_p]),
    "ntsrch_filter_and_sort_tracks_json": (
        ctypes.c_void_p,
        [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]),
    "ntsrch_normalize_unified_results_json": (ctypes.c_void_p,
                                              [ctypes.c_char_p, ctypes.c_size_t]),
    "ntsrch_selftest": (ctypes.c_int, []),
}


def _find_in_prefix(prefix):
    libroot = os.path.join(os.fspath(prefix), "lib")
    candidates = [os.path.join(libroot, MODULE_FILE),
                  os.path.join(os.fspath(prefix), "lib64", MODULE_FILE)]
    if os.path.isdir(libroot):  # multiarch, e.g. lib/x86_64-linux-gnu
        candidates += sorted(os.path.join(libroot, d, MODULE_FILE) for d in os.listdir(libroot))
    for path in candidates:
        if os.path.isfile(path):
            return path
    raise FileNotFoundError(f"{MODULE_FILE} not found under {prefix}")


def _text(value, name):
    """str (UTF-8 encoded), bytes or None; anything else is serialised as JSON."""
    if value is None or isinstance(value, bytes):
        return value
    if isinstance(value, str):
        return value.encode("utf-8")
    if name is not None:
        return json.dumps(value, ensure_ascii=False).encode("utf-8")
    raise TypeError(f"expected str, bytes or None, got {type(value).__name__}")


class Library:
    """One loaded module. Safe to share between threads."""

    def __init__(self, path=None, prefix=None):
        if path is not None and prefix is not None:
            raise ValueError("give path or prefix, not both")
        if prefix is not None:
            path = _find_in_prefix(prefix)
        self.path = os.fspath(path) if path is not None else MODULE_FILE
        self._dll = ctypes.CDLL(self.path)
        self._fn = {}
        for name, (restype, argtypes) in _SIGNATURES.items():
            try:
                fn = getattr(self._dll, name)
            except AttributeError:
                continue  # reported when called, see _call
            fn.restype = restype
            fn.argtypes = argtypes
            self._fn[name] = fn
        abi = self.abi_version()
        if abi != ABI_VERSION:
            raise OSError(f"{self.path}: module ABI {abi}, this binding needs {ABI_VERSION}")

    def provides(self, function):
        """True when the module exports the named ntsrch_ function."""
        return function in self._fn

    def _call(self, name, *args):
        try:
            fn = self._fn[name]
        except KeyError:
            raise AttributeError(f"{self.path} does not export {name}") from None
        return fn(*args)

    def _take(self, name, ptr):
        """Copies and releases an owned result, or raises with this thread's message."""
        if not ptr:
            message = self.last_error()
            if message:
                raise NtsrchError(name, message)
            raise NtsrchMemoryError(name, "")
        try:
            raw = ctypes.string_at(ptr)
        finally:
            self._fn["ntsrch_free"](ptr)
        return raw.decode("utf-8")

    def version(self):
        return self._call("ntsrch_version").decode("ascii")

    def abi_version(self):
        return self._call("ntsrch_abi_version")

    def last_error(self):
        """The calling thread's last-error text ("" when none)."""
        return self._call("ntsrch_last_error").decode("utf-8", "replace")

    def selftest(self):
        """0 when the built-in checks pass, 1 (URL) or 2 (ordering) otherwise."""
        return self._call("ntsrch_selftest")

    def build_search_url(self, query, base_url=None):
        name = "ntsrch_build_search_url"
        return self._take(name, self._call(name, _text(base_url, None), _text(query, None)))

    def filter_and_sort_tracks(self, tracks, query=None, downloaded_only=False,
                               downloaded=None, sort=SortMode.NONE, parse=False):
        """tracks and downloaded: JSON text, or Python values to serialise. Returns the kept
        tracks as JSON text, or as Python values when parse is true."""
        name = "ntsrch_filter_and_sort_tracks_json"
        ptr = self._call(name, _text(tracks, "tracks"), _text(query, None),
                         1 if downloaded_only else 0, _text(downloaded, "downloaded"),
                         int(sort))
        out = self._take(name, ptr)
        return json.loads(out) if parse else out

    def normalize_unified_results(self, unified, parse=False):
        """unified: JSON text (str or bytes, passed with its length) or a Python value."""
        name = "ntsrch_normalize_unified_results_json"
        data = _text(unified, "unified")
        ptr = self._call(name, data, 0 if data is None else len(data))
        out = self._take(name, ptr)
        return json.loads(out) if parse else out

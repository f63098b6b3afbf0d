# SPDX-License-Identifier: MIT
"""Python binding of the ntsrch search client module (standard library ctypes only).

    import ntsrch
    lib = ntsrch.Library()                    # see "Finding the module" below
    lib = ntsrch.Library(path="/opt/app/nortavel-nortaveltune-search-client.so")
    lib = ntsrch.Library(prefix="/usr/local")  # from an install prefix
    lib.build_search_url("night skies")
    lib.filter_and_sort_tracks(tracks_json, query="sky", sort=ntsrch.SortMode.TITLE_ASC,
                               parse=True)

Finding the module: an explicit path= or prefix= is the only place tried. Otherwise
Library() tries, in order, the file named by $NTSRCH_MODULE, the copy bundled in this
package (a wheel carries one, with its libyyjson.so.0), then the system library path by
file name; the first that loads and has this binding's ABI wins. When none does,
ModuleLoadError lists every place tried and why each failed.

Every string the module returns is taken as a raw pointer, copied into Python and released
with ntsrch_free before the call returns, so nothing leaks and nothing is freed twice. A
failed call raises NtsrchError carrying the module's last-error text, read on the thread
that made the call; a failure for lack of memory raises NtsrchMemoryError instead.
Calls release the GIL and may be made from any number of threads at once.
"""

from __future__ import annotations

import ctypes
import enum
import json
import os
from typing import (Any, Callable, Dict, List, Literal, Optional, Sequence, Tuple, Union,
                    overload)

__all__ = ["Library", "SortMode", "NtsrchError", "NtsrchMemoryError", "ModuleLoadError",
           "MODULE_FILE", "ABI_VERSION", "BUNDLED_MODULE", "__version__"]

__version__ = "1.0.0"
MODULE_FILE = "nortavel-nortaveltune-search-client.so"
ABI_VERSION = 1
# Where a wheel puts its copy of the module (absent in a source checkout).
BUNDLED_MODULE = os.path.join(os.path.dirname(os.path.abspath(__file__)), MODULE_FILE)

StrPath = Union[str, "os.PathLike[str]"]
# Text arguments: str (sent as UTF-8), bytes as they are, or None (a null pointer).
Text = Union[str, bytes, None]
# JSON arguments: text as above, or a Python value that is serialised as JSON.
JsonInput = Union[str, bytes, None, Sequence[Any], Dict[str, Any]]


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

    def __init__(self, function: str, last_error: str) -> None:
        super().__init__(f"{function}: {last_error}" if last_error else
                         f"{function}: out of memory")
        self.function = function
        self.last_error = last_error


class NtsrchMemoryError(NtsrchError, MemoryError):
    """A call failed for lack of memory; the module leaves no message then."""


class ModuleLoadError(OSError):
    """No module could be loaded; tried holds (place, reason) for every place tried."""

    def __init__(self, tried: List[Tuple[str, str]]) -> None:
        lines = "".join(f"\n  {place}: {reason}" for place, reason in tried)
        super().__init__(f"could not load {MODULE_FILE}; tried:{lines}")
        self.tried = tried


# Owned results are c_void_p: c_char_p would copy the text and drop the pointer, which
# could then never be released. The version and last-error texts belong to the module, so
# copying them is all there is to do.
_SIGNATURES: Dict[str, Tuple[Any, List[Any]]] = {
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


def _find_in_prefix(prefix: StrPath) -> str:
    libroot = os.path.join(os.fspath(prefix), "lib")
    candidates = [os.path.join(libroot, MODULE_FILE),
                  os.path.join(os.fspath(prefix), "lib64", MODULE_FILE)]
    if os.path.isdir(libroot):  # multiarch, e.g. lib/x86_64-linux-gnu
        candidates += sorted(os.path.join(libroot, d, MODULE_FILE) for d in os.listdir(libroot))
    for path in candidates:
        if os.path.isfile(path):
            return path
    raise FileNotFoundError(f"{MODULE_FILE} not found under {os.fspath(prefix)}")


def _candidates() -> List[Tuple[str, str]]:
    """(place, how it was chosen) in lookup order, for Library() without path or prefix."""
    found = []
    env = os.environ.get("NTSRCH_MODULE")
    if env:
        found.append((env, "$NTSRCH_MODULE"))
    found.append((BUNDLED_MODULE, "bundled"))
    found.append((MODULE_FILE, "system library path"))
    return found


def _text(value: Any, name: Optional[str]) -> Optional[bytes]:
    """str (UTF-8 encoded), bytes or None; anything else is serialised as JSON."""
    if value is None or isinstance(value, bytes):
        return value
    if isinstance(value, str):
        return value.encode("utf-8")
    if name is not None:
        return json.dumps(value, ensure_ascii=False).encode("utf-8")
    raise TypeError(f"expected str, bytes or None, got {type(value).__name__}")


class Library:
    """One loaded module. Safe to share between threads.

    path is the file that was loaded (the bare file name when the system library path
    supplied it)."""

    path: str

    def __init__(self, path: Optional[StrPath] = None,
                 prefix: Optional[StrPath] = None) -> None:
        if path is not None and prefix is not None:
            raise ValueError("give path or prefix, not both")
        if prefix is not None:
            path = _find_in_prefix(prefix)
        if path is not None:
            self._load(os.fspath(path))
            return
        tried: List[Tuple[str, str]] = []
        for place, how in _candidates():
            if how == "bundled" and not os.path.isfile(place):
                tried.append((f"{place} ({how})", "not present"))
                continue
            try:
                self._load(place)
                return
            except OSError as e:
                tried.append((f"{place} ({how})", str(e)))
        raise ModuleLoadError(tried)

    def _load(self, path: str) -> None:
        self.path = path
        self._dll = ctypes.CDLL(path)
        self._fn: Dict[str, Callable[..., Any]] = {}
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
            raise OSError(f"{path}: module ABI {abi}, this binding needs {ABI_VERSION}")

    def provides(self, function: str) -> bool:
        """True when the module exports the named ntsrch_ function."""
        return function in self._fn

    def _call(self, name: str, *args: Any) -> Any:
        try:
            fn = self._fn[name]
        except KeyError:
            raise AttributeError(f"{self.path} does not export {name}") from None
        return fn(*args)

    def _take(self, name: str, ptr: Optional[int]) -> str:
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

    def version(self) -> str:
        """The module's version text, e.g. "1.0.0"."""
        value: bytes = self._call("ntsrch_version")
        return value.decode("ascii")

    def abi_version(self) -> int:
        value: int = self._call("ntsrch_abi_version")
        return value

    def last_error(self) -> str:
        """The calling thread's last-error text ("" when none)."""
        value: bytes = self._call("ntsrch_last_error")
        return value.decode("utf-8", "replace")

    def selftest(self) -> int:
        """0 when the built-in checks pass, 1 (URL) or 2 (ordering) otherwise."""
        value: int = self._call("ntsrch_selftest")
        return value

    def build_search_url(self, query: Text, base_url: Text = None) -> str:
        name = "ntsrch_build_search_url"
        return self._take(name, self._call(name, _text(base_url, None), _text(query, None)))

    @overload
    def filter_and_sort_tracks(self, tracks: JsonInput, query: Text = ...,
                               downloaded_only: bool = ..., downloaded: JsonInput = ...,
                               sort: int = ..., parse: Literal[False] = ...) -> str: ...

    @overload
    def filter_and_sort_tracks(self, tracks: JsonInput, query: Text = ...,
                               downloaded_only: bool = ..., downloaded: JsonInput = ...,
                               sort: int = ..., *, parse: Literal[True]) -> Any: ...

    def filter_and_sort_tracks(self, tracks: JsonInput, query: Text = None,
                               downloaded_only: bool = False, downloaded: JsonInput = None,
                               sort: int = SortMode.NONE, parse: bool = False) -> Any:
        """tracks and downloaded: JSON text, or Python values to serialise. Returns the kept
        tracks as JSON text, or as Python values when parse is true."""
        name = "ntsrch_filter_and_sort_tracks_json"
        ptr = self._call(name, _text(tracks, "tracks"), _text(query, None),
                         1 if downloaded_only else 0, _text(downloaded, "downloaded"),
                         int(sort))
        out = self._take(name, ptr)
        return json.loads(out) if parse else out

    @overload
    def normalize_unified_results(self, unified: JsonInput,
                                  parse: Literal[False] = ...) -> str: ...

    @overload
    def normalize_unified_results(self, unified: JsonInput, parse: Literal[True]) -> Any: ...

    def normalize_unified_results(self, unified: JsonInput, parse: bool = False) -> Any:
        """unified: JSON text (str or bytes, passed with its length) or a Python value."""
        name = "ntsrch_normalize_unified_results_json"
        data = _text(unified, "unified")
        ptr = self._call(name, data, 0 if data is None else len(data))
        out = self._take(name, ptr)
        return json.loads(out) if parse else out

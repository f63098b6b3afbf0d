# SPDX-License-Identifier: MIT
"""Python binding of the ntsrch search client module (standard library ctypes only).

    import ntsrch
    lib = ntsrch.Library()                    # see "Finding the module" below
    lib = ntsrch.Library(path="/opt/app/nortavel-nortaveltune-search-client.so")
    lib = ntsrch.Library(prefix="/usr/local")  # from an install prefix
    lib.build_search_url("night skies")
    lib.filter_and_sort_tracks(tracks_json, query="sky", sort=ntsrch.SortMode.TITLE_ASC,
                               output="value")
    await lib.filter_and_sort_tracks_async(tracks_bytes, output="bytes")

Finding the module: an explicit path= or prefix=, else the file named by $NTSRCH_MODULE,
is the only place tried, and its failure raises ModuleLoadError with the reason. Otherwise
Library() tries the copy bundled in this package, then the system library path by file
name. A file cut short of what its headers name, that does not load, lacks one of the
eight exports or has another ABI is passed over with its reason; when no place works,
ModuleLoadError lists every place tried.

Inputs are checked before any call: text is str, bytes, bytearray, memoryview or None;
JSON is text or lists, tuples and dicts with str keys holding only JSON values; a NUL byte
or a lone surrogate in any text, NaN or infinity, an int beyond the double range, nesting
past the recursion limit, or a sort mode outside C int raise ValueError; a wrong type
raises TypeError. Every message starts with the parameter's name (and its path inside a
value, e.g. "tracks[3].title").

Copies: bytes go to the module as they are; bytearray and memoryview cost one copy (none
for a whole bytes or bytearray behind a memoryview, and none for a bytearray given to
normalize_unified_results, which takes a length); str costs its UTF-8 encoding. A result
is copied once (output="bytes") or decoded once straight from the module's buffer
(output="string"), then released with ntsrch_free before the call returns.

A failed call raises NtsrchError carrying the module's last-error text, read on the thread
that made the call; a failure for lack of memory raises NtsrchMemoryError instead. Calls
release the GIL and may be made from any number of threads at once. The *_async
coroutines make the whole call (checks, C call, last-error read, decoding) in the loop's
default executor; bad input raises when the coroutine is awaited.
"""

from __future__ import annotations

import asyncio
import ctypes
import enum
import functools
import json
import os
import struct
import sys
from typing import (Any, BinaryIO, Callable, Dict, List, Literal, Optional, Set, Tuple,
                    Union, overload)

__all__ = ["Library", "SortMode", "NtsrchError", "NtsrchMemoryError", "ModuleLoadError",
           "MODULE_FILE", "ABI_VERSION", "BUNDLED_MODULE", "__version__"]

__version__ = "1.0.0"
MODULE_FILE = "nortavel-nortaveltune-search-client" + {
    "win32": ".dll", "darwin": ".dylib"}.get(sys.platform, ".so")
ABI_VERSION = 1
# Where a wheel puts its copy of the module (absent in a source checkout).
BUNDLED_MODULE = os.path.join(os.path.dirname(os.path.abspath(__file__)), MODULE_FILE)

StrPath = Union[str, "os.PathLike[str]"]
# Text arguments: str (sent as UTF-8), bytes-like as they are, or None (a null pointer).
Text = Union[str, bytes, bytearray, memoryview, None]
# JSON arguments: text as above, or Python values that are serialised as JSON.
JsonInput = Union[str, bytes, bytearray, memoryview, None, List[Any], Tuple[Any, ...],
                  Dict[str, Any]]
Output = Literal["string", "bytes", "value"]

_INT_MIN, _INT_MAX = -(1 << 31), (1 << 31) - 1
# The module reads every JSON number as a double (or a 64-bit integer): an int beyond the
# double range makes the whole document unreadable to it.
_JSON_INT_MAX = int(sys.float_info.max)


class SortMode(enum.IntEnum):
    """Orders of filter_and_sort_tracks (NTSRCH_SORT_* in the C header). Any other int in
    the C int range keeps input order, as the module does."""
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


def _utf8_decoder() -> Callable[[int], str]:
    """Decodes a NUL-terminated UTF-8 buffer into str in one pass, without the bytes copy
    that string_at followed by decode makes (CPython); plain ctypes elsewhere."""
    try:
        fn = ctypes.pythonapi.PyUnicode_FromString
    except AttributeError:
        return lambda ptr: ctypes.string_at(ptr).decode("utf-8")
    fn.restype = ctypes.py_object
    fn.argtypes = [ctypes.c_void_p]
    return fn


_decode_utf8 = _utf8_decoder()


# ---- input rules -----------------------------------------------------------------------

def _no_nul(data: Union[bytes, bytearray], name: str) -> None:
    at = data.find(0)
    if at >= 0:
        raise ValueError(f"{name}: embedded NUL at byte {at}")


def _encode(text: str, name: str) -> bytes:
    try:
        return text.encode("utf-8")
    except UnicodeEncodeError as e:  # a lone surrogate
        raise ValueError(f"{name}: not encodable as UTF-8 at character {e.start}") from None


def _whole_object(view: memoryview) -> Union[bytes, bytearray, None]:
    """The bytes or bytearray a memoryview shows in full, so it can go without a copy."""
    obj = view.obj
    if isinstance(obj, (bytes, bytearray)) and view.c_contiguous and view.nbytes == len(obj):
        return obj
    return None


def _text_arg(value: Any, name: str) -> Optional[bytes]:
    """Text as the NUL-terminated bytes the module reads, or None."""
    if value is None:
        return None
    if isinstance(value, str):
        data = _encode(value, name)
    elif isinstance(value, bytes):
        data = value
    elif isinstance(value, bytearray):
        data = bytes(value)
    elif isinstance(value, memoryview):
        whole = _whole_object(value)
        data = whole if isinstance(whole, bytes) else value.tobytes()
    else:
        raise TypeError(f"{name}: expected str, bytes, bytearray, memoryview or None, "
                        f"got {type(value).__name__}")
    _no_nul(data, name)
    return data


_Fault = Tuple[List[str], type, str]


def _member(key: str) -> str:
    return f".{key}" if key.isidentifier() else f"[{json.dumps(key, ensure_ascii=False)}]"


def _big_int(value: int) -> _Fault:
    return [], ValueError, (f"an int of {value.bit_length()} bits is outside the range of a "
                            "JSON number (the module reads it as a double, at most 1.8e308)")


def _lone_surrogate(value: Any) -> Optional[Tuple[List[str], str]]:
    """Where json.dumps would first meet a lone surrogate: (path segments innermost first,
    what is wrong there), or None."""
    if isinstance(value, str):
        try:
            value.encode("utf-8")
        except UnicodeEncodeError as e:
            return [], f"not encodable as UTF-8 at character {e.start}"
        return None
    if isinstance(value, dict):
        for key, item in value.items():
            bad_key = _lone_surrogate(key)
            if bad_key is not None:
                return [], f"key {json.dumps(key)} {bad_key[1]}"
            found = _lone_surrogate(item)
            if found is not None:
                found[0].append(_member(key))
                return found
    elif isinstance(value, (list, tuple)):
        for i, item in enumerate(value):
            found = _lone_surrogate(item)
            if found is not None:
                found[0].append(f"[{i}]")
                return found
    return None


def _json_fault(value: Any, open_ids: Set[int]) -> Optional[_Fault]:
    """The first value that is not plain JSON: (path segments innermost first, error type,
    message), or None. Only faults build paths, so a clean walk costs type checks alone."""
    if isinstance(value, dict):
        items: Any = value.items()
        is_dict = True
    elif isinstance(value, (list, tuple)):
        items = enumerate(value)
        is_dict = False
    elif isinstance(value, int) and not isinstance(value, bool):
        return None if -_JSON_INT_MAX <= value <= _JSON_INT_MAX else _big_int(value)
    elif value is None or isinstance(value, str):
        return None
    elif isinstance(value, float):
        return None if value - value == 0 else ([], ValueError, f"{value} is not a JSON number")
    else:
        return [], TypeError, f"{type(value).__name__} is not a JSON value"
    ident = id(value)
    if ident in open_ids:
        return [], ValueError, "circular reference"
    open_ids.add(ident)
    for key, item in items:
        if is_dict and not isinstance(key, str):
            return [], TypeError, f"key {key!r} is not a str"
        kind = type(item)
        if kind is str or kind is bool or item is None or (
                kind is int and -_JSON_INT_MAX <= item <= _JSON_INT_MAX) or (
                kind is float and item - item == 0):
            continue
        fault = _json_fault(item, open_ids)
        if fault is not None:
            fault[0].append(_member(key) if is_dict else f"[{key}]")
            return fault
    open_ids.discard(ident)
    return None


def _json_arg(value: Any, name: str) -> Optional[bytes]:
    """JSON text as bytes for the module: text is passed as given (the module refuses
    what is not JSON), Python values are checked all the way down, then serialised."""
    if not isinstance(value, (list, tuple, dict)):
        return _text_arg(value, name)
    try:
        fault = _json_fault(value, set())
        if fault is not None:
            segments, error, message = fault
            raise error(f"{name}{''.join(reversed(segments))}: {message}")
        # json.dumps writes a NUL inside a string as \u0000, so no NUL check is needed.
        text = json.dumps(value, ensure_ascii=False, separators=(",", ":"), allow_nan=False)
        try:
            return text.encode("utf-8")
        except UnicodeEncodeError:
            found = _lone_surrogate(value)
            if found is None:  # cannot be: only strings and keys carry text
                raise
            segments, message = found
            raise ValueError(f"{name}{''.join(reversed(segments))}: {message}") from None
    except RecursionError:
        raise ValueError(f"{name}: nested too deeply") from None


def _sized_arg(value: Any, name: str) -> Tuple[Any, int]:
    """For the call that takes a length: a bytearray (alone or as a whole memoryview) goes
    in place, without a copy or a terminating NUL."""
    array = _whole_object(value) if isinstance(value, memoryview) else value
    if isinstance(array, bytearray) and len(array) > 0:
        _no_nul(array, name)
        return (ctypes.c_char * len(array)).from_buffer(array), len(array)
    data = _json_arg(value, name)
    return data, 0 if data is None else len(data)


def _sort_arg(sort: Any) -> int:
    if isinstance(sort, bool) or not isinstance(sort, int):
        raise TypeError(f"sort: expected int or SortMode, got {type(sort).__name__}")
    if not _INT_MIN <= sort <= _INT_MAX:
        raise ValueError(f"sort: {int(sort)} is outside the C int range "
                         f"[{_INT_MIN}, {_INT_MAX}]")
    return int(sort)


def _strict_bool(value: Any, name: str) -> bool:
    if type(value) is not bool:
        raise TypeError(f"{name}: expected bool, got {type(value).__name__}")
    return value


def _output_arg(output: Any, parse: Any) -> str:
    if not isinstance(output, str) or output not in ("string", "bytes", "value"):
        raise ValueError(f"output: expected 'string', 'bytes' or 'value', got {output!r}")
    if _strict_bool(parse, "parse"):
        if output == "bytes":
            raise ValueError("parse: parse=True means output='value', not 'bytes'")
        return "value"
    return output


def _utf8_error(data: bytes) -> Optional[int]:
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as e:
        return e.start
    return None


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
            path = self._find_in_prefix(os.fspath(prefix))
        if path is not None:
            place = os.fspath(path)
            try:
                self._load(place)
            except _Unusable as e:
                raise ModuleLoadError([(place, str(e))]) from None
            return
        tried: List[Tuple[str, str]] = []
        for place, how in _candidates():
            if how == "bundled" and not os.path.isfile(place):
                tried.append((f"{place} ({how})", "not present"))
                continue
            try:
                self._load(place)
                return
            except _Unusable as e:
                tried.append((f"{place} ({how})", str(e)))
        raise ModuleLoadError(tried)

    @staticmethod
    def _find_in_prefix(prefix: str) -> str:
        libroot = os.path.join(prefix, "lib")
        candidates = [os.path.join(libroot, MODULE_FILE),
                      os.path.join(prefix, "lib64", MODULE_FILE)]
        if os.path.isdir(libroot):  # multiarch, e.g. lib/x86_64-linux-gnu
            candidates += sorted(os.path.join(libroot, d, MODULE_FILE)
                                 for d in os.listdir(libroot))
        for found in candidates:
            if os.path.isfile(found):
                return found
        raise ModuleLoadError([(f"{prefix} (prefix)",
                                f"no {MODULE_FILE} in lib/, lib64/ or lib/<multiarch>/")])

    def _load(self, path: str) -> None:
        cut = _truncated(path)
        if cut:
            raise _Unusable(cut)
        try:
            dll = ctypes.CDLL(path)
        except OSError as e:
            raise _Unusable(str(e)) from None
        fns: Dict[str, Callable[..., Any]] = {}
        missing = []
        for name, (restype, argtypes) in _SIGNATURES.items():
            try:
                fn = getattr(dll, name)
            except AttributeError:
                missing.append(name)
                continue
            fn.restype = restype
            fn.argtypes = argtypes
            fns[name] = fn
        if missing:
            raise _Unusable(f"does not export {', '.join(missing)}")
        abi = fns["ntsrch_abi_version"]()
        if abi != ABI_VERSION:
            raise _Unusable(f"module ABI {abi}, this binding needs {ABI_VERSION}")
        self.path = path
        self._dll = dll
        self._fn = fns

    def provides(self, function: str) -> bool:
        """True when the module exports the named ntsrch_ function (a loaded module has
        all eight)."""
        return function in self._fn

    def _take(self, name: str, ptr: Optional[int], output: str) -> Any:
        """Copies and releases an owned result, or raises with this thread's message."""
        if not ptr:
            message = self.last_error()
            if message:
                raise NtsrchError(name, message)
            raise NtsrchMemoryError(name, "")
        try:
            if output == "bytes":
                return ctypes.string_at(ptr)
            try:
                text = _decode_utf8(ptr)
            except UnicodeDecodeError:  # never for checked input; no raise after success
                text = ctypes.string_at(ptr).decode("utf-8", "surrogateescape")
        finally:
            self._fn["ntsrch_free"](ptr)
        if output != "value":
            return text
        try:
            return json.loads(text)
        except RecursionError:
            raise ValueError("output: the result is nested too deeply for 'value'; "
                             "use 'string' or 'bytes'") from None

    def version(self) -> str:
        """The module's version text, e.g. "1.0.0"."""
        value: bytes = self._fn["ntsrch_version"]()
        return value.decode("ascii")

    def abi_version(self) -> int:
        value: int = self._fn["ntsrch_abi_version"]()
        return value

    def last_error(self) -> str:
        """The calling thread's last-error text ("" when none)."""
        value: bytes = self._fn["ntsrch_last_error"]()
        return value.decode("utf-8", "replace")

    def selftest(self) -> int:
        """0 when the built-in checks pass, 1 (URL) or 2 (ordering) otherwise."""
        value: int = self._fn["ntsrch_selftest"]()
        return value

    # ---- search URL ----

    @overload
    def build_search_url(self, query: Text, base_url: Text = ...,
                         *, output: Literal["string"] = ...) -> str: ...

    @overload
    def build_search_url(self, query: Text, base_url: Text = ...,
                         *, output: Literal["bytes"]) -> bytes: ...

    @overload
    def build_search_url(self, query: Text, base_url: Text = ...,
                         *, output: str = ...) -> Union[str, bytes]: ...

    def build_search_url(self, query: Text, base_url: Text = None,
                         *, output: str = "string") -> Union[str, bytes]:
        """The search URL for query (None passes a null query, which the module refuses).
        base_url None or empty means the module's default; as bytes it is copied as given,
        so with output="string" it must be valid UTF-8."""
        if output == "value":
            raise ValueError("output: a URL is not JSON; use 'string' or 'bytes'")
        output = _output_arg(output, False)
        # The C signature's order (base first): the first bad argument is the one refused.
        base = _text_arg(base_url, "base_url")
        if output == "string" and base is not None and not isinstance(base_url, str):
            at = _utf8_error(base)
            if at is not None:
                raise ValueError(f"base_url: not valid UTF-8 at byte {at}")
        q = _text_arg(query, "query")
        name = "ntsrch_build_search_url"
        result: Union[str, bytes] = self._take(name, self._fn[name](base, q), output)
        return result

    @overload
    async def build_search_url_async(self, query: Text, base_url: Text = ...,
                                     *, output: Literal["string"] = ...) -> str: ...

    @overload
    async def build_search_url_async(self, query: Text, base_url: Text = ...,
                                     *, output: Literal["bytes"]) -> bytes: ...

    @overload
    async def build_search_url_async(self, query: Text, base_url: Text = ...,
                                     *, output: str = ...) -> Union[str, bytes]: ...

    async def build_search_url_async(self, query: Text, base_url: Text = None,
                                     *, output: str = "string") -> Union[str, bytes]:
        """build_search_url in the running loop's default executor."""
        result: Union[str, bytes] = await _in_executor(self.build_search_url, query, base_url,
                                                       output=output)
        return result

    # ---- track lists ----

    @overload
    def filter_and_sort_tracks(self, tracks: JsonInput, query: Text = ...,
                               downloaded_only: bool = ..., downloaded: JsonInput = ...,
                               sort: int = ..., *, output: Literal["string"] = ...,
                               parse: Literal[False] = ...) -> str: ...

    @overload
    def filter_and_sort_tracks(self, tracks: JsonInput, query: Text = ...,
                               downloaded_only: bool = ..., downloaded: JsonInput = ...,
                               sort: int = ..., *, output: Literal["bytes"],
                               parse: Literal[False] = ...) -> bytes: ...

    @overload
    def filter_and_sort_tracks(self, tracks: JsonInput, query: Text = ...,
                               downloaded_only: bool = ..., downloaded: JsonInput = ...,
                               sort: int = ..., *, output: Literal["value"],
                               parse: bool = ...) -> Any: ...

    @overload
    def filter_and_sort_tracks(self, tracks: JsonInput, query: Text = ...,
                               downloaded_only: bool = ..., downloaded: JsonInput = ...,
                               sort: int = ..., *, output: Literal["string"] = ...,
                               parse: Literal[True]) -> Any: ...

    @overload
    def filter_and_sort_tracks(self, tracks: JsonInput, query: Text = ...,
                               downloaded_only: bool = ..., downloaded: JsonInput = ...,
                               sort: int = ..., *, output: str = ...,
                               parse: bool = ...) -> Any: ...

    def filter_and_sort_tracks(self, tracks: JsonInput, query: Text = None,
                               downloaded_only: bool = False, downloaded: JsonInput = None,
                               sort: int = SortMode.NONE, *, output: str = "string",
                               parse: bool = False) -> Any:
        """tracks and downloaded: JSON text, or Python values to serialise. Returns the kept
        tracks as JSON text (str or bytes), or parsed with output="value" (or parse=True)."""
        output = _output_arg(output, parse)
        # The C signature's order, so that the first bad argument is the one refused.
        data = _json_arg(tracks, "tracks")
        q = _text_arg(query, "query")
        only = _strict_bool(downloaded_only, "downloaded_only")
        down = _json_arg(downloaded, "downloaded")
        mode = _sort_arg(sort)
        name = "ntsrch_filter_and_sort_tracks_json"
        return self._take(name, self._fn[name](data, q, 1 if only else 0, down, mode), output)

    @overload
    async def filter_and_sort_tracks_async(
        self, tracks: JsonInput, query: Text = ..., downloaded_only: bool = ...,
        downloaded: JsonInput = ..., sort: int = ..., *, output: Literal["string"] = ...,
        parse: Literal[False] = ...) -> str: ...

    @overload
    async def filter_and_sort_tracks_async(
        self, tracks: JsonInput, query: Text = ..., downloaded_only: bool = ...,
        downloaded: JsonInput = ..., sort: int = ..., *, output: Literal["bytes"],
        parse: Literal[False] = ...) -> bytes: ...

    @overload
    async def filter_and_sort_tracks_async(
        self, tracks: JsonInput, query: Text = ..., downloaded_only: bool = ...,
        downloaded: JsonInput = ..., sort: int = ..., *, output: Literal["value"],
        parse: bool = ...) -> Any: ...

    @overload
    async def filter_and_sort_tracks_async(
        self, tracks: JsonInput, query: Text = ..., downloaded_only: bool = ...,
        downloaded: JsonInput = ..., sort: int = ..., *, output: Literal["string"] = ...,
        parse: Literal[True]) -> Any: ...

    @overload
    async def filter_and_sort_tracks_async(
        self, tracks: JsonInput, query: Text = ..., downloaded_only: bool = ...,
        downloaded: JsonInput = ..., sort: int = ..., *, output: str = ...,
        parse: bool = ...) -> Any: ...

    async def filter_and_sort_tracks_async(
            self, tracks: JsonInput, query: Text = None, downloaded_only: bool = False,
            downloaded: JsonInput = None, sort: int = SortMode.NONE, *,
            output: str = "string", parse: bool = False) -> Any:
        """filter_and_sort_tracks in the running loop's default executor."""
        return await _in_executor(self.filter_and_sort_tracks, tracks, query,
                                  downloaded_only, downloaded, sort, output=output,
                                  parse=parse)

    # ---- unified results ----

    @overload
    def normalize_unified_results(self, unified: JsonInput, *,
                                  output: Literal["string"] = ...,
                                  parse: Literal[False] = ...) -> str: ...

    @overload
    def normalize_unified_results(self, unified: JsonInput, *, output: Literal["bytes"],
                                  parse: Literal[False] = ...) -> bytes: ...

    @overload
    def normalize_unified_results(self, unified: JsonInput, *, output: Literal["value"],
                                  parse: bool = ...) -> Any: ...

    @overload
    def normalize_unified_results(self, unified: JsonInput, *,
                                  output: Literal["string"] = ...,
                                  parse: Literal[True]) -> Any: ...

    @overload
    def normalize_unified_results(self, unified: JsonInput, *, output: str = ...,
                                  parse: bool = ...) -> Any: ...

    def normalize_unified_results(self, unified: JsonInput, *, output: str = "string",
                                  parse: bool = False) -> Any:
        """unified: JSON text (passed with its length) or a Python value."""
        output = _output_arg(output, parse)
        data, length = _sized_arg(unified, "unified")
        name = "ntsrch_normalize_unified_results_json"
        return self._take(name, self._fn[name](data, length), output)

    @overload
    async def normalize_unified_results_async(
        self, unified: JsonInput, *, output: Literal["string"] = ...,
        parse: Literal[False] = ...) -> str: ...

    @overload
    async def normalize_unified_results_async(
        self, unified: JsonInput, *, output: Literal["bytes"],
        parse: Literal[False] = ...) -> bytes: ...

    @overload
    async def normalize_unified_results_async(
        self, unified: JsonInput, *, output: Literal["value"], parse: bool = ...) -> Any: ...

    @overload
    async def normalize_unified_results_async(
        self, unified: JsonInput, *, output: Literal["string"] = ...,
        parse: Literal[True]) -> Any: ...

    @overload
    async def normalize_unified_results_async(
        self, unified: JsonInput, *, output: str = ..., parse: bool = ...) -> Any: ...

    async def normalize_unified_results_async(self, unified: JsonInput, *,
                                              output: str = "string",
                                              parse: bool = False) -> Any:
        """normalize_unified_results in the running loop's default executor."""
        return await _in_executor(self.normalize_unified_results, unified, output=output,
                                  parse=parse)


class _Unusable(Exception):
    """Why a place does not hold a usable module."""


def _header_extent(f: BinaryIO, size: int) -> int:
    """The bytes a module file's own headers say it holds (ELF program headers, PE
    sections, Mach-O segments), or 0 for a file in none of these forms."""
    def read(off: int, n: int) -> bytes:
        f.seek(off)
        return f.read(n)

    head = read(0, 64)
    need = 0

    def grow(n: int) -> bool:
        nonlocal need
        need = max(need, n)
        return size >= n

    if len(head) < 8:
        return 0
    if head[:4] == b"\x7fELF":
        wide, order = head[4] == 2, "<" if head[5] == 1 else ">"
        if not grow(64 if wide else 52):
            return need
        phoff = struct.unpack_from(order + ("Q" if wide else "I"), head, 32 if wide else 28)[0]
        entry = struct.unpack_from(order + "H", head, 54 if wide else 42)[0]
        count = struct.unpack_from(order + "H", head, 56 if wide else 44)[0]
        if not grow(phoff + entry * count):
            return need
        table = read(phoff, entry * count)
        word = order + ("Q" if wide else "I")
        for i in range(count):
            o = i * entry
            offset = struct.unpack_from(word, table, o + (8 if wide else 4))[0]
            filesz = struct.unpack_from(word, table, o + (32 if wide else 16))[0]
            grow(offset + filesz)
        return need
    if head[:2] == b"MZ":
        if not grow(64):
            return need
        pe = struct.unpack_from("<I", head, 0x3C)[0]
        if not grow(pe + 24):
            return need
        coff = read(pe, 24)
        if coff[:4] != b"PE\0\0":
            return 0
        count = struct.unpack_from("<H", coff, 6)[0]
        at = pe + 24 + struct.unpack_from("<H", coff, 20)[0]
        if not grow(at + 40 * count):
            return need
        sections = read(at, 40 * count)
        for i in range(count):
            raw, ptr = struct.unpack_from("<II", sections, i * 40 + 16)
            if raw:
                grow(ptr + raw)
        return need
    if head[:4] == b"\xca\xfe\xba\xbe":
        count = struct.unpack_from(">I", head, 4)[0]
        if not grow(8 + 20 * count):
            return need
        archs = read(8, 20 * count)
        for i in range(count):
            offset, length = struct.unpack_from(">II", archs, i * 20 + 8)
            grow(offset + length)
        return need
    magic = struct.unpack_from("<I", head, 0)[0]
    if magic not in (0xFEEDFACE, 0xFEEDFACF, 0xCEFAEDFE, 0xCFFAEDFE):
        return 0
    wide = magic in (0xFEEDFACF, 0xCFFAEDFE)
    order = "<" if magic in (0xFEEDFACE, 0xFEEDFACF) else ">"
    top = 32 if wide else 28
    if not grow(top):
        return need
    count, length = struct.unpack_from(order + "II", head, 16)
    if not grow(top + length):
        return need
    cmds = read(top, length)
    o = 0
    for _ in range(count):
        if o + 8 > len(cmds):
            break
        cmd, cmdsize = struct.unpack_from(order + "II", cmds, o)
        if cmd == 0x19 and o + 56 <= len(cmds):
            grow(sum(struct.unpack_from(order + "QQ", cmds, o + 40)))
        elif cmd == 0x1 and o + 40 <= len(cmds):
            grow(sum(struct.unpack_from(order + "II", cmds, o + 32)))
        if cmdsize < 8:
            break
        o += cmdsize
    return need


def _truncated(path: str) -> Optional[str]:
    """Why the file at path would crash the loader (a partly copied module raises SIGBUS
    inside dlopen instead of failing), or None. Bare names are the system's to find."""
    try:
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            need = _header_extent(f, size)
    except OSError:
        return None  # the loader says why
    return f"truncated: {size} bytes, headers need {need}" if need > size else None


def _candidates() -> List[Tuple[str, str]]:
    """(place, how it was chosen) in lookup order, for Library() without path or prefix."""
    env = os.environ.get("NTSRCH_MODULE")
    if env:  # when set, the one place tried, as path= is
        return [(env, "$NTSRCH_MODULE")]
    return [(BUNDLED_MODULE, "bundled"), (MODULE_FILE, "system library path")]


async def _in_executor(fn: Callable[..., Any], *args: Any, **kwargs: Any) -> Any:
    # The checks, the C call (GIL released), the last-error read on that same thread and
    # the decoding all run in one executor thread, so the loop keeps turning.
    loop = asyncio.get_running_loop()
    return await loop.run_in_executor(None, functools.partial(fn, *args, **kwargs))

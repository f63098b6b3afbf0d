# SPDX-License-Identifier: MIT
"""Checked with mypy --strict against the installed wheel: its types must be found (the
py.typed marker) and must reject a misuse."""

import ntsrch

lib: ntsrch.Library = ntsrch.Library()
url: str = lib.build_search_url("night skies", None)
text: str = lib.filter_and_sort_tracks([{"title": "a"}], sort=ntsrch.SortMode.TITLE_ASC)
parsed = lib.normalize_unified_results(b'{"tracks":[]}', parse=True)
flags: bool = lib.provides("ntsrch_free")
codes: int = lib.selftest() + lib.abi_version()
words: str = lib.version() + lib.last_error() + ntsrch.__version__
try:
    lib.build_search_url("   ")
except ntsrch.NtsrchMemoryError:
    raise
except ntsrch.NtsrchError as err:
    message: str = err.last_error
except ntsrch.ModuleLoadError as err:
    tried: list[tuple[str, str]] = err.tried
lib.build_search_url(42)  # type: ignore[call-overload]


async def outputs() -> None:
    # Each output choice has its own return type, in the calls and their coroutines.
    as_bytes: bytes = lib.filter_and_sort_tracks(b"[]", output="bytes")
    as_text: str = lib.normalize_unified_results(bytearray(b"{}"), output="string")
    url_bytes: bytes = lib.build_search_url(memoryview(b"q"), output="bytes")
    value = lib.filter_and_sort_tracks("[]", sort=2, output="value")
    async_text: str = await lib.filter_and_sort_tracks_async("[]", "q", True, ["u"])
    async_bytes: bytes = await lib.normalize_unified_results_async("{}", output="bytes")
    async_url: str = await lib.build_search_url_async("q", "https://h")
    wrong: str = lib.filter_and_sort_tracks("[]", output="bytes")  # type: ignore[assignment]
    wrong_async: bytes = await lib.build_search_url_async("q")  # type: ignore[assignment]

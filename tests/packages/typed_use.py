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
lib.build_search_url(42)  # type: ignore[arg-type]

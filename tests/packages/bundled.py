# SPDX-License-Identifier: MIT
"""Run from an installed wheel with no NTSRCH_MODULE: Library() must load the wheel's own
module, which carries yyjson inside: no libyyjson may be loaded at all."""

import os
import sys

import ntsrch

package_dir = os.path.dirname(os.path.abspath(ntsrch.__file__))
lib = ntsrch.Library()
problems = []
if lib.path != ntsrch.BUNDLED_MODULE or os.path.dirname(lib.path) != package_dir:
    problems.append(f"loaded {lib.path}, not the bundled {ntsrch.BUNDLED_MODULE}")
with open("/proc/self/maps") as f:
    mapped = {line.split()[-1] for line in f if len(line.split()) >= 6}
for name, want in ((ntsrch.MODULE_FILE, [os.path.join(package_dir, ntsrch.MODULE_FILE)]),
                   ("libyyjson", [])):
    hits = sorted(p for p in mapped if os.path.basename(p).startswith(name))
    if hits != want:
        problems.append(f"{name} mapped from {hits}, want {want}")
if lib.build_search_url("x", "https://h") != "https://h/search/api?q=x&format=json":
    problems.append("wrong URL")
for p in problems:
    print(p, file=sys.stderr)
if not problems:
    print("bundled module loaded from", package_dir, "with no libyyjson")
sys.exit(1 if problems else 0)

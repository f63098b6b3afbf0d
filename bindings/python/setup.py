# SPDX-License-Identifier: MIT
"""A wheel that carries the native module (scripts/build-packages copies it into ntsrch/)
is a platform wheel, installed to platlib and tagged py3-none-<platform>. Built from the
plain sources it holds Python only and stays py3-none-any. The metadata is in
pyproject.toml."""

import os
from typing import Any, Dict

from setuptools import Distribution, setup

try:
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:  # setuptools < 70.1
    from wheel.bdist_wheel import bdist_wheel  # type: ignore[no-redef]

MODULE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ntsrch",
                      "nortavel-nortaveltune-search-client.so")


class NativeDistribution(Distribution):
    def has_ext_modules(self) -> bool:
        return True


class PlatformWheel(bdist_wheel):  # type: ignore[misc]
    def get_tag(self) -> "tuple[str, str, str]":
        # Any Python 3 loads the module through ctypes: no interpreter or ABI in the tag.
        return "py3", "none", super().get_tag()[2]


options: Dict[str, Any] = {}
if os.path.isfile(MODULE):
    options = {"distclass": NativeDistribution, "cmdclass": {"bdist_wheel": PlatformWheel}}
setup(**options)

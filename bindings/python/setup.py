# SPDX-License-Identifier: MIT
"""The wheel carries a native module, so it is a platform wheel (installed to platlib and
tagged py3-none-<platform>) rather than pure Python; the metadata is in pyproject.toml."""

from setuptools import Distribution, setup

try:
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:  # setuptools < 70.1
    from wheel.bdist_wheel import bdist_wheel  # type: ignore[no-redef]


class NativeDistribution(Distribution):
    def has_ext_modules(self) -> bool:
        return True


class PlatformWheel(bdist_wheel):  # type: ignore[misc]
    def get_tag(self) -> "tuple[str, str, str]":
        # Any Python 3 loads the module through ctypes: no interpreter or ABI in the tag.
        return "py3", "none", super().get_tag()[2]


setup(distclass=NativeDistribution, cmdclass={"bdist_wheel": PlatformWheel})

#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the macOS builds as files, with Debian's LLVM tools: nothing here runs Mach-O.

Usage: check_macho.py UNIVERSAL_DIR X86_64_TREE ARM64_TREE
Prints one result line (scripts/results.py) per check and exits 1 when any check fails.
"""
import glob
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

MODULE = "nortavel-nortaveltune-search-client.dylib"
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import results  # noqa: E402
# The functions include/ntsrch.h declares, with the leading "_" of Mach-O's C names.
EXPORTS = {"_" + name for name in json.loads(subprocess.run(
    ["cmake", "-P", os.path.join(ROOT, "cmake", "ntsrch-header.cmake")],
    check=True, capture_output=True, text=True).stdout)["exports"]}
# Zig's linker exports the two names it gives the image's own header; no object file
# defines them, and they are not code (Apple's linker keeps them private).
LINKER_HEADER_SYMBOLS = {"__mh_dylib_header", "___dso_handle"}
DEPENDENCIES = ["/usr/lib/libSystem.B.dylib"]
MIN_OS = "11.0"
# One row per slice: objdump's CPU name, lipo's name, and whether it must carry a code
# signature (arm64 macOS runs nothing unsigned; x86_64 needs none).
SLICES = [
    {"arch": "x86_64", "cpu": "X86_64", "signed": False,
     "unsigned_why": "x86_64 macOS runs unsigned code"},
    {"arch": "arm64", "cpu": "ARM64", "signed": True},
]
# Programs of each tree that must have linked for the slice's CPU.
PROGRAMS = ["ntsrch", "tests/ntsrch_tests", "tests/ntsrch_unload_test",
            "tests/host/ntsrch_header_c99"]
# What lipo joins into UNIVERSAL_DIR.
UNIVERSAL = [MODULE, "ntsrch"]
DYLIB_COMMANDS = {"LC_LOAD_DYLIB", "LC_LOAD_WEAK_DYLIB", "LC_REEXPORT_DYLIB",
                  "LC_LOAD_UPWARD_DYLIB", "LC_LAZY_LOAD_DYLIB"}


def llvm_tool(name):
    found = shutil.which(name)
    if found:
        return found
    versioned = sorted(glob.glob(f"/usr/lib/llvm-*/bin/{name}"),
                       key=lambda p: int(p.split("/llvm-")[1].split("/")[0]))
    if not versioned:
        sys.exit(f"{name} not found: run scripts/install-deps cross")
    return versioned[-1]


OBJDUMP, NM, LIPO = llvm_tool("llvm-objdump"), llvm_tool("llvm-nm"), llvm_tool("llvm-lipo")


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


class Headers:
    """The Mach header and load commands of a thin file, as llvm-objdump prints them."""

    def __init__(self, path):
        lines = run(OBJDUMP, "--macho", "--private-headers", path).splitlines()
        self.header = []
        self.commands = []  # one dict per load command; sections as (sectname, type) pairs
        for i, line in enumerate(lines):
            words = line.split()
            if words[:1] == ["magic"] and i + 1 < len(lines):
                self.header = lines[i + 1].split()
            elif words[:2] == ["Load", "command"]:
                self.commands.append({"sections": []})
            elif self.commands and len(words) >= 2:
                cmd = self.commands[-1]
                if words[0] == "sectname":
                    cmd["sections"].append([words[1], None])
                elif words[0] == "type" and cmd["sections"]:
                    cmd["sections"][-1][1] = words[1]
                else:
                    cmd.setdefault(words[0], " ".join(words[1:]))

    def of(self, kind):
        return [c for c in self.commands if c.get("cmd") == kind]


def check_file_type(path, slice_, filetype):
    h = Headers(path)
    got = h.header[:2] + h.header[4:5]
    want = ["MH_MAGIC_64", slice_["cpu"], filetype]
    return None if got == want else f"header {got}, want {want}"


def check_exports(path, _):
    out = run(OBJDUMP, "--macho", "--exports-trie", path).splitlines()
    names = {line.split()[1] for line in out if line.startswith("0x")}
    if names != EXPORTS | LINKER_HEADER_SYMBOLS:
        return f"exports {sorted(names)}"
    return None


def check_dependencies(path, _):
    deps = [c["name"].split(" (offset")[0] for c in Headers(path).commands
            if c.get("cmd") in DYLIB_COMMANDS]
    return None if deps == DEPENDENCIES else f"depends on {deps}"


def check_install_name(path, _):
    ids = [c["name"].split(" (offset")[0] for c in Headers(path).of("LC_ID_DYLIB")]
    want = "@rpath/" + MODULE
    return None if ids == [want] else f"install names {ids}, want {want}"


def check_native_tls(path, _):
    h = Headers(path)
    sections = [tuple(s) for c in h.of("LC_SEGMENT_64") for s in c["sections"]]
    if ("__thread_vars", "S_THREAD_LOCAL_VARIABLES") not in sections:
        return "no __thread_vars section of type S_THREAD_LOCAL_VARIABLES"
    if "MH_HAS_TLV_DESCRIPTORS" not in h.header:
        return "header flags lack MH_HAS_TLV_DESCRIPTORS"
    symbols = run(NM, "-a", path).split()
    if "__tlv_bootstrap" not in symbols:
        return "does not import dyld's __tlv_bootstrap"
    emulated = [s for s in symbols if "emutls" in s]
    return f"emulated TLS symbols {emulated}" if emulated else None


def check_min_os(path, _):
    builds = Headers(path).of("LC_BUILD_VERSION")
    got = [(b.get("platform"), b.get("minos")) for b in builds]
    return None if got == [("macos", MIN_OS)] else f"build versions {got}, want macos {MIN_OS}"


class Skip(str):
    """A check that does not apply to this slice."""


def check_signature(path, slice_):
    """An ad-hoc signature whose page hashes match the file: nothing changed it after
    the linker signed it."""
    sigs = Headers(path).of("LC_CODE_SIGNATURE")
    if not sigs:
        return "no LC_CODE_SIGNATURE" if slice_["signed"] else Skip(slice_["unsigned_why"])
    data = open(path, "rb").read()
    off = int(sigs[0]["dataoff"])
    magic, _, count = struct.unpack_from(">III", data, off)
    if magic != 0xFADE0CC0:
        return f"signature blob magic {magic:#x}"
    blobs = dict(struct.unpack_from(">II", data, off + 12 + 8 * i) for i in range(count))
    if 0 not in blobs:
        return "no code directory"
    cd = off + blobs[0]
    (magic, _, _, flags, hash_off, _, _, n_code, code_limit, hash_size, hash_type, _,
     page_shift) = struct.unpack_from(">IIIIIIIIIBBBB", data, cd)
    if magic != 0xFADE0C02 or not flags & 0x2:
        return f"code directory magic {magic:#x}, flags {flags:#x}: not ad-hoc"
    if hash_type != 2 or hash_size != 32 or code_limit != off:
        return f"hash type {hash_type}, size {hash_size}, limit {code_limit} (signature at {off})"
    page = 1 << page_shift
    for i in range(n_code):
        want = data[cd + hash_off + 32 * i:cd + hash_off + 32 * (i + 1)]
        got = hashlib.sha256(data[i * page:min((i + 1) * page, code_limit)]).digest()
        if got != want:
            return f"page {i} differs from its signed hash: the file changed after linking"
    return None


MODULE_CHECKS = [
    ("Mach-O dylib of its CPU", lambda p, s: check_file_type(p, s, "DYLIB")),
    ("exports only the functions of the header", check_exports),
    ("depends on libSystem only", check_dependencies),
    ("install name @rpath/" + MODULE, check_install_name),
    ("native thread-local variables", check_native_tls),
    ("minimum macOS " + MIN_OS, check_min_os),
    ("ad-hoc code signature intact", check_signature),
]


def main():
    universal, trees = sys.argv[1], dict(zip(["x86_64", "arm64"], sys.argv[2:4]))
    failed = 0

    def report(name, why):
        nonlocal failed
        if isinstance(why, Skip):
            print(results.line("skip", name, why))
            return
        failed += why is not None
        print(results.line("pass", name) if why is None else results.line("fail", name, why))

    def guarded(check, *args):
        try:
            return check(*args)
        except (OSError, subprocess.CalledProcessError, struct.error, ValueError) as e:
            return str(e).strip().splitlines()[-1] if str(e).strip() else repr(e)

    for s in SLICES:
        tree = trees[s["arch"]]
        module = os.path.join(tree, MODULE)
        for name, check in MODULE_CHECKS:
            report(f"macos {s['arch']} module: {name}", guarded(check, module, s))
        for prog in PROGRAMS:
            report(f"macos {s['arch']}: {prog} linked",
                   guarded(check_file_type, os.path.join(tree, prog), s, "EXECUTE"))

    with tempfile.TemporaryDirectory() as tmp:
        for f in UNIVERSAL:
            fat = os.path.join(universal, f)

            def same_slices():
                archs = sorted(run(LIPO, "-archs", fat).split())
                if archs != sorted(s["arch"] for s in SLICES):
                    return f"slices {archs}"
                for s in SLICES:
                    thin = os.path.join(tmp, s["arch"])
                    run(LIPO, fat, "-thin", s["arch"], "-output", thin)
                    if open(thin, "rb").read() != open(os.path.join(trees[s["arch"]], f),
                                                       "rb").read():
                        return f"{s['arch']} slice differs from the linked file"
                return None

            report(f"macos universal {f}: both slices as linked", guarded(same_slices))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

# SPDX-License-Identifier: MIT
"""Every binding's declarations of the eight functions, its sort modes, ABI version and
version against include/ntsrch.h. A binding is one row of BINDINGS: a function that reads
its sources and returns a Declared; a new binding adds its reader there."""

import ast
import json
import os
import re
import unittest
from typing import Dict, List, NamedTuple, Optional, Tuple

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

# A function's shape: (return kind, [parameter kinds]); kinds are "ptr", "int", "size_t",
# "void", or "owned" for a char * result the caller releases (a raw pointer in the binding).
Shape = Tuple[str, List[str]]


class Declared(NamedTuple):
    functions: Dict[str, Optional[Shape]]  # None: the binding names it without C types
    abi: int
    sort: Optional[Dict[str, int]]  # None: the binding takes another binding's
    version: Optional[str] = None


def read(*parts: str) -> str:
    with open(os.path.join(ROOT, *parts), encoding="utf-8") as f:
        return f.read()


def c_kind(decl: str) -> str:
    decl = decl.strip()
    if "*" in decl:
        return "ptr"
    words = decl.split()
    return {"void": "void", "int": "int", "size_t": "size_t"}.get(words[0] if words else "void", decl)


def c_shape(ret: str, params: str) -> Shape:
    kinds = [] if params.strip() in ("", "void") else [c_kind(p) for p in params.split(",")]
    r = ret.strip()
    return ("owned" if "*" in r and not r.startswith("const") else c_kind(r)), kinds


def header() -> Declared:
    text = re.sub(r"/\*.*?\*/", "", read("include", "ntsrch.h"), flags=re.S)
    functions = {m.group(2): c_shape(m.group(1), m.group(3)) for m in re.finditer(
        r"^NTSRCH_API\s+(.+?)\s*NTSRCH_CALL\s+(ntsrch_\w+)\s*\(([^)]*)\)\s*;", text, re.S | re.M)}
    defines = dict(re.findall(r"#define NTSRCH_(\w+) (\S+)", text))
    sort = {k[len("SORT_"):]: int(v) for k, v in defines.items() if k.startswith("SORT_")}
    return Declared(functions, int(defines["ABI_VERSION"]), sort, json.loads(defines["VERSION_STRING"]))


def node() -> Declared:
    src = read("bindings", "node", "ntsrch.js")
    block = src[src.index("const EXPORTS = {"):]
    block = block[:block.index("};")]
    functions = {}
    for name, sig in re.findall(r"(ntsrch_\w+):\s*'([^']+)'", block):
        m = re.fullmatch(r"(.+?)\s*\b(ntsrch_\w+)\((.*)\)", sig)
        assert m and m.group(2) == name, sig
        ret, params = m.group(1), m.group(3)
        # koffi's raw result pointer is void *: the owned char * of the header.
        shape = c_shape(ret, params)
        functions[name] = ("owned" if ret.replace(" ", "") == "void*" else shape[0], shape[1])
    rules = read("bindings", "node", "rules.js")
    sort_block = rules[rules.index("const SortMode = Object.freeze({"):]
    sort = {k: int(v) for k, v in re.findall(r"(\w+): (\d+),", sort_block[:sort_block.index("});")])}
    abi = int(re.search(r"const ABI_VERSION = (\d+);", src).group(1))
    return Declared(functions, abi, sort, json.loads(read("bindings", "node", "package.json"))["version"])


def wasm() -> Declared:
    # The module's own exports carry the types; the binding names the functions it needs and
    # takes its sort modes from the Node binding's rules.
    src = read("bindings", "wasm", "ntsrch-wasm.mjs")
    names = set(re.findall(r"'(ntsrch_\w+)'", src))
    abi = int(re.search(r"export const ABI_VERSION = (\d+);", src).group(1))
    return Declared({n: None for n in names}, abi, None)


def python() -> Declared:
    tree = ast.parse(read("bindings", "python", "ntsrch", "__init__.py"))
    kinds = {"c_char_p": "ptr", "c_void_p": "ptr", "c_int": "int", "c_size_t": "size_t"}
    values = {}
    functions: Dict[str, Optional[Shape]] = {}
    sort: Dict[str, int] = {}
    for node_ in tree.body:
        if isinstance(node_, (ast.Assign, ast.AnnAssign)):
            target = node_.targets[0] if isinstance(node_, ast.Assign) else node_.target
            if isinstance(target, ast.Name):
                values[target.id] = node_.value
        if isinstance(node_, ast.ClassDef) and node_.name == "SortMode":
            sort = {s.targets[0].id: s.value.value for s in node_.body
                    if isinstance(s, ast.Assign) and isinstance(s.value, ast.Constant)}

    def kind(expr: ast.expr) -> str:
        if isinstance(expr, ast.Constant) and expr.value is None:
            return "void"
        assert isinstance(expr, ast.Attribute), ast.dump(expr)
        return kinds.get(expr.attr, expr.attr)

    for key, value in zip(values["_SIGNATURES"].keys, values["_SIGNATURES"].values):
        ret, args = value.elts
        r = kind(ret)
        functions[key.value] = ("owned" if isinstance(ret, ast.Attribute) and ret.attr == "c_void_p" else r,
                                [kind(a) for a in args.elts])
    return Declared(functions, values["ABI_VERSION"].value, sort, values["__version__"].value)


def dotnet() -> Declared:
    src = read("bindings", "dotnet", "Ntsrch.cs")
    kinds = {"IntPtr": "ptr", "byte*": "ptr", "void*": "ptr", "int": "int", "UIntPtr": "size_t", "void": "void"}
    abi = int(re.search(r"public const int ExpectedAbiVersion = (\d+);", src).group(1))
    enum = re.search(r"public enum SortMode\s*\{([^}]*)\}", src).group(1)
    sort = {re.sub(r"(?<!^)([A-Z])", r"_\1", k).upper(): int(v) for k, v in re.findall(r"(\w+) = (-?\d+)", enum)}
    # Each function is a delegate type named for its export.
    functions: Dict[str, Optional[Shape]] = {}
    for ret, name, params in re.findall(r"delegate (\S+) (ntsrch_\w+)\(([^)]*)\);", src):
        ps = [kinds.get(p.strip().rsplit(" ", 1)[0], p) for p in params.split(",") if p.strip()]
        functions[name] = ("owned" if ret == "IntPtr" and name in OWNED else kinds.get(ret, ret), ps)
    return Declared(functions, abi, sort)


def jvm() -> Declared:
    # JNA looks the functions up by name and types each call where it is made.
    src = read("bindings", "jvm", "ntsrch", "src", "main", "java", "com", "nortaveltune", "ntsrch", "Ntsrch.java")
    block = src[src.index("String[] EXPORTS = {"):]
    names = re.findall(r'"(ntsrch_\w+)"', block[:block.index("};")])
    enum = read("bindings", "jvm", "ntsrch", "src", "main", "java", "com", "nortaveltune", "ntsrch", "SortMode.java")
    sort = {k: int(v) for k, v in re.findall(r"^\s*([A-Z_]+)\((-?\d+)\)[,;]", enum, re.M)}
    abi = int(re.search(r"public static final int ABI_VERSION = (\d+);", src).group(1))
    version = re.search(r"<artifactId>ntsrch</artifactId>\s*<version>([^<]+)</version>",
                        read("bindings", "jvm", "ntsrch", "pom.xml")).group(1)
    return Declared({n: None for n in names}, abi, sort, version)


def rust() -> Declared:
    src = read("bindings", "rust", "ntsrch-sys", "src", "lib.rs")
    block = src[src.index('extern "C" {'):]

    def kind(t: str) -> str:
        t = t.strip()
        return "ptr" if t.startswith("*") else {"c_int": "int", "usize": "size_t", "": "void"}.get(t, t)

    functions: Dict[str, Optional[Shape]] = {}
    for name, params, ret in re.findall(r"pub fn (ntsrch_\w+)\(([^)]*)\)\s*(?:->\s*([^;]+))?;", block, re.S):
        ps = [kind(p.split(":", 1)[1]) for p in params.split(",") if p.strip()]
        functions[name] = ("owned" if ret.strip() == "*mut c_char" else kind(ret), ps)
    consts = dict(re.findall(r"pub const NTSRCH_(\w+): [^=]+= ([^;]+);", src))
    sort = {k[len("SORT_"):]: int(v) for k, v in consts.items() if k.startswith("SORT_")}
    crate = re.search(r'^version = "([^"]+)"', read("bindings", "rust", "ntsrch", "Cargo.toml"), re.M).group(1)
    sys_crate = re.search(r'^version = "([^"]+)"', read("bindings", "rust", "ntsrch-sys", "Cargo.toml"), re.M).group(1)
    versions = {json.loads(consts["VERSION_STRING"]), crate, sys_crate.split("+ntsrch.")[0], sys_crate.split("+ntsrch.")[-1]}
    return Declared(functions, int(consts["ABI_VERSION"]), sort, versions.pop() if len(versions) == 1 else str(versions))


OWNED = {"ntsrch_build_search_url", "ntsrch_filter_and_sort_tracks_json",
         "ntsrch_normalize_unified_results_json"}
BINDINGS = {"node": node, "wasm": wasm, "python": python, "dotnet": dotnet, "jvm": jvm, "rust": rust}


def differences(want: Declared, got: Declared) -> List[str]:
    found = []
    if set(got.functions) != set(want.functions):
        found.append(f"functions: missing {sorted(set(want.functions) - set(got.functions))}, "
                     f"extra {sorted(set(got.functions) - set(want.functions))}")
    for name, shape in got.functions.items():
        if shape is not None and name in want.functions and shape != want.functions[name]:
            found.append(f"{name}: {shape}, the header has {want.functions[name]}")
    if got.abi != want.abi:
        found.append(f"ABI version {got.abi}, the header has {want.abi}")
    if got.sort is not None and got.sort != want.sort:
        found.append(f"sort modes {got.sort}, the header has {want.sort}")
    if got.version is not None and got.version != want.version:
        found.append(f"version {got.version}, the header has {want.version}")
    return found


class Declarations(unittest.TestCase):
    def test_every_binding_declares_what_the_header_does(self):
        want = header()
        self.assertEqual(len(want.functions), 8, want.functions)
        for binding, read_binding in BINDINGS.items():
            with self.subTest(binding=binding):
                self.assertEqual(differences(want, read_binding()), [])

    def test_a_difference_is_found(self):
        want = header()
        got = python()
        wrong_param = dict(got.functions, ntsrch_free=("void", ["int"]))
        owned_as_text = dict(got.functions, ntsrch_build_search_url=("ptr", ["ptr", "ptr"]))
        rows = [
            (got._replace(functions=wrong_param), "ntsrch_free: ('void', ['int'])"),
            (got._replace(functions=owned_as_text), "ntsrch_build_search_url: ('ptr'"),
            (got._replace(functions={k: v for k, v in got.functions.items() if k != "ntsrch_selftest"}),
             "missing ['ntsrch_selftest']"),
            (got._replace(abi=2), "ABI version 2"),
            (got._replace(sort=dict(got.sort, NEWEST_FIRST=9)), "sort modes"),
            (got._replace(version="1.0.1"), "version 1.0.1"),
        ]
        for changed, expected in rows:
            with self.subTest(expected=expected):
                self.assertTrue(any(d.startswith(expected) or expected in d for d in differences(want, changed)),
                                differences(want, changed))


if __name__ == "__main__":
    unittest.main()

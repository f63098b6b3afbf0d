#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the release in dist/ (make release) against the tables below: every file named
and versioned from include/ntsrch.h, SHA256SUMS, each wheel's tag, contents and module,
auditwheel's verdict on the Linux ones, the npm package's five prebuilds, each archive's
files, module and tool; the JVM artifact's jars, POM, and a Maven-built app using it. The
x86_64 wheel runs the binding's suite in a fresh venv, the npm package and the Linux
archives run here (arm64 under qemu); the Rust crates hold the repository's sources and
build an application that runs. Binaries of other platforms are
checked for their structure only: file format, CPU, library or program, exported names.
Writes "pass NAME" / "fail NAME" lines to RESULTS/release.txt; exits 1 when any failed.
Usage: tests/release/check.py RESULTS_DIR"""

import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import traceback
import zipfile
from base64 import urlsafe_b64encode

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DIST = os.path.join(ROOT, "dist")
HEADER = open(os.path.join(ROOT, "include", "ntsrch.h"), encoding="utf-8").read()
VERSION = re.search(r'^#define NTSRCH_VERSION_STRING "(.+)"$', HEADER, re.M).group(1)
EXPORTS = sorted(set(re.findall(r"^NTSRCH_API [^(]*?\b(ntsrch_\w+)\(", HEADER, re.M)))
M = "nortavel-nortaveltune-search-client"
VENV = os.environ.get("NTSRCH_RELEASE_VENV", "/var/cache/ntsrch-release/venv")
CMAKE_FILES = ["ntsrch-config.cmake", "ntsrch-config-version.cmake", "ntsrch-targets.cmake"]

# Binary kinds: (format, CPUs, "lib" or "exe").
ELF_X64, ELF_A64 = ("elf", ["x86_64"], "lib"), ("elf", ["aarch64"], "lib")
PE_X64 = ("pe", ["x86_64"], "lib")
MACHO_X64, MACHO_A64 = ("macho", ["x86_64"], "lib"), ("macho", ["arm64"], "lib")
MACHO_UNIVERSAL = ("macho", ["arm64", "x86_64"], "lib")


def exe(kind):
    return (kind[0], kind[1], "exe")


def linux_files(libdir):
    return [f"{libdir}/{M}.so", f"{libdir}/pkgconfig/ntsrch.pc"] + [
        f"{libdir}/cmake/ntsrch/{f}" for f in CMAKE_FILES]


# One row per platform: archive, wheel tag, module and tool in the archive (with their
# kinds), the other files the archive must hold, and whether it runs here.
PLATFORMS = [
    dict(name="linux-x86_64", archive="tar.gz", wheel="manylinux_2_17_x86_64", kind=ELF_X64,
         module=f"lib/x86_64-linux-gnu/{M}.so", tool="bin/ntsrch", pc="lib/x86_64-linux-gnu/pkgconfig",
         files=linux_files("lib/x86_64-linux-gnu") + ["share/man/man1/ntsrch.1.gz"], run=[]),
    dict(name="linux-aarch64", archive="tar.gz", wheel="manylinux_2_17_aarch64", kind=ELF_A64,
         module=f"lib/{M}.so", tool="bin/ntsrch", pc="lib/pkgconfig",
         files=linux_files("lib") + ["share/man/man1/ntsrch.1"],
         run=["qemu-aarch64", "-L", "/usr/aarch64-linux-gnu"]),
    dict(name="windows-x86_64", archive="zip", wheel="win_amd64", kind=PE_X64,
         module=f"bin/{M}.dll", tool="bin/ntsrch.exe", pc=None,
         files=[f"lib/{M}.def", f"lib/{M}.lib"], run=None),
    dict(name="macos-universal", archive="tar.gz", wheel="macosx_11_0_universal2", kind=MACHO_UNIVERSAL,
         module=f"lib/{M}.dylib", tool="bin/ntsrch", pc="lib/pkgconfig",
         files=[f"lib/pkgconfig/ntsrch.pc"] + [f"lib/cmake/ntsrch/{f}" for f in CMAKE_FILES], run=None),
]
# npm: prebuilds/<process.platform>-<process.arch>/<module file>.
PREBUILDS = {"linux-x64": (f"{M}.so", ELF_X64), "linux-arm64": (f"{M}.so", ELF_A64),
             "win32-x64": (f"{M}.dll", PE_X64), "darwin-x64": (f"{M}.dylib", MACHO_X64),
             "darwin-arm64": (f"{M}.dylib", MACHO_A64)}
DEBS = [f"nortavel-nortaveltune-search-client_{VERSION}_amd64.deb", f"ntsrch-dev_{VERSION}_amd64.deb",
        f"ntsrch_{VERSION}_amd64.deb"]


def wheel_name(p):
    return f"ntsrch-{VERSION}-py3-none-{p['wheel']}.whl"


def archive_name(p):
    return f"ntsrch-{VERSION}-{p['name']}.{p['archive']}"


CRATE_SYS, CRATE = f"ntsrch-sys-{VERSION}+ntsrch.{VERSION}", f"ntsrch-{VERSION}"
CRATES = [f"{CRATE_SYS}.crate", f"{CRATE}.crate"]
# The JVM artifact: jar/PLATFORM/module under JNA's platform folder names.
JNA_PLATFORMS = {"linux-x86-64": (f"{M}.so", ELF_X64), "linux-aarch64": (f"{M}.so", ELF_A64),
                 "win32-x86-64": (f"{M}.dll", PE_X64), "darwin-x86-64": (f"{M}.dylib", MACHO_X64),
                 "darwin-aarch64": (f"{M}.dylib", MACHO_A64)}
JVM_JAR = f"ntsrch-{VERSION}.jar"
JVM_FILES = [JVM_JAR, f"ntsrch-{VERSION}-sources.jar", f"ntsrch-{VERSION}-javadoc.jar", f"ntsrch-{VERSION}.pom"] + [
    f"ntsrch-{VERSION}-{p}.jar" for p in JNA_PLATFORMS]
JVM_CACHE = os.environ.get("NTSRCH_JVM_CACHE", "/var/cache/ntsrch-jvm")
JDK17 = "/usr/lib/jvm/java-17-openjdk-" + subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                                                         text=True).stdout.strip()

DIST_FILES = sorted(DEBS + [wheel_name(p) for p in PLATFORMS] + [archive_name(p) for p in PLATFORMS]
                    + [f"ntsrch-{VERSION}.tgz", "SHA256SUMS"] + JVM_FILES + CRATES)


class Failed(Exception):
    pass


def expect(cond, msg):
    if not cond:
        raise Failed(msg)


def run(*cmd, **kw):
    r = subprocess.run(cmd, capture_output=True, text=True, **kw)
    expect(r.returncode == 0, f"{' '.join(cmd)}: exit {r.returncode}\n{r.stdout}{r.stderr}")
    return r.stdout


def binary_kind(data):
    """(format, CPUs, "lib"/"exe") of an ELF, PE or Mach-O (thin or universal) file."""
    if data[:4] == b"\x7fELF":
        expect(data[4] == 2 and data[5] == 1, "not a 64-bit little-endian ELF")
        e_type, machine = struct.unpack_from("<HH", data, 16)
        phoff, = struct.unpack_from("<Q", data, 32)
        phentsize, phnum = struct.unpack_from("<HH", data, 54)
        interp = any(struct.unpack_from("<I", data, phoff + i * phentsize)[0] == 3 for i in range(phnum))
        cpu = {62: "x86_64", 183: "aarch64"}.get(machine, f"elf machine {machine}")
        return "elf", [cpu], "exe" if e_type == 2 or interp else "lib"
    if data[:2] == b"MZ":
        pe, = struct.unpack_from("<I", data, 0x3C)
        expect(data[pe:pe + 4] == b"PE\0\0", "MZ file without a PE header")
        machine, = struct.unpack_from("<H", data, pe + 4)
        flags, = struct.unpack_from("<H", data, pe + 22)
        return "pe", [{0x8664: "x86_64"}.get(machine, hex(machine))], "lib" if flags & 0x2000 else "exe"
    macho_cpu = {0x01000007: "x86_64", 0x0100000C: "arm64"}
    if data[:4] == b"\xca\xfe\xba\xbe":
        n, = struct.unpack_from(">I", data, 4)
        slices = [struct.unpack_from(">IIIII", data, 8 + 20 * i) for i in range(n)]
        roles = {binary_kind(data[s[2]:s[2] + s[3]])[2] for s in slices}
        expect(len(roles) == 1, f"slices differ: {roles}")
        return "macho", sorted(macho_cpu.get(s[0], hex(s[0])) for s in slices), roles.pop()
    if data[:4] == b"\xcf\xfa\xed\xfe":
        cpu, _, filetype = struct.unpack_from("<III", data, 4)
        return "macho", [macho_cpu.get(cpu, hex(cpu))], {6: "lib", 2: "exe"}.get(filetype, f"type {filetype}")
    raise Failed(f"unknown file type (starts {data[:4]!r})")


def exported(path, kind):
    """The names the module exports, read by Debian's LLVM tools."""
    if kind[0] == "elf":
        lines = run("llvm-nm", "-D", "--defined-only", path).splitlines()
        return sorted({l.split()[-1] for l in lines if len(l.split()) == 3 and l.split()[1] != "A"})
    if kind[0] == "pe":
        return sorted(re.findall(r"^\s*Name: (\S+)$", run("llvm-readobj", "--coff-exports", path), re.M))
    per_arch = set()
    for cpu in kind[1]:
        lines = run("llvm-nm", "-gU", f"--arch={cpu}", path).splitlines()
        # C names carry one leading "_"; Zig's linker also exports the image's own header.
        names = {l.split()[-1][1:] for l in lines if l.strip()} - {"_mh_dylib_header", "__dso_handle"}
        per_arch.add(tuple(sorted(names)))
    expect(len(per_arch) == 1, f"slices export different names: {per_arch}")
    return list(per_arch.pop())


# What a shipped module or tool may load: the system's C library only (yyjson is inside).
SYSTEM_LIBRARIES = {"elf": {"libc.so.6"}, "pe": {"kernel32.dll", "msvcrt.dll"},
                    "macho": {"/usr/lib/libSystem.B.dylib"}}


def dependencies(path, kind):
    if kind[0] == "elf":
        out = run("llvm-readobj", "--needed-libs", path)
        return set(re.findall(r"^\s+(\S+\.so[.0-9]*)$", out, re.M))
    if kind[0] == "pe":
        return {n.lower() for n in re.findall(r"^\s*Name: (\S+\.dll)$", run("llvm-readobj", "--coff-imports", path),
                                               re.M | re.I)}
    deps = set()
    for cpu in kind[1]:
        lines = run("llvm-objdump", "--macho", "--dylibs-used", f"--arch={cpu}", path).splitlines()
        deps |= {l.split(" (")[0].strip() for l in lines[1:] if l.startswith(("\t", " "))}
    # A library's list starts with its own install name.
    return deps - {f"@rpath/{os.path.basename(path)}"}


def check_binary(path, kind):
    data = open(path, "rb").read()
    got = binary_kind(data)
    base = os.path.basename(path)
    expect(got == kind, f"{base} is {got}, want {kind}")
    deps = dependencies(path, kind)
    expect(deps <= SYSTEM_LIBRARIES[kind[0]], f"{base} loads {sorted(deps)}")
    if kind[2] == "lib":
        names = exported(path, kind)
        expect(names == EXPORTS, f"{base} exports {names}, want {EXPORTS}")
        expect(VERSION.encode() + b"\0" in data, f"{base} does not hold the version text {VERSION}")
    return f"{base}: {' '.join(got[1])} {got[0]} {got[2]}, loads {' '.join(sorted(deps))}"


# ---- the checks, each a function taking its table row; a Failed or any error fails it.

def dist_files(_tmp):
    got = sorted(os.listdir(DIST))
    expect(got == DIST_FILES, f"dist/ holds {got}\nwant {DIST_FILES}")


def sha256sums(_tmp):
    run("sha256sum", "--strict", "-c", "SHA256SUMS", cwd=DIST)
    listed = sorted(l.split(None, 1)[1].strip().lstrip("*") for l in open(os.path.join(DIST, "SHA256SUMS")))
    expect(listed == [f for f in DIST_FILES if f != "SHA256SUMS"], f"SHA256SUMS lists {listed}")


def changelog(_tmp):
    entry = re.search(r"^## \[?([0-9][0-9.]*)", open(os.path.join(ROOT, "CHANGELOG.md")).read(), re.M)
    expect(entry and entry.group(1) == VERSION, f"first CHANGELOG.md entry: {entry and entry.group(0)}")


def deb_version(deb):
    got = run("dpkg-deb", "-f", os.path.join(DIST, deb), "Version").strip()
    expect(got == VERSION, f"{deb}: Version {got}")


def wheel(p, tmp):
    path = os.path.join(DIST, wheel_name(p))
    z = zipfile.ZipFile(path)
    info = f"ntsrch-{VERSION}.dist-info"
    meta = z.read(f"{info}/WHEEL").decode()
    expect(re.findall(r"^Tag: (.+)$", meta, re.M) == [f"py3-none-{p['wheel']}"], meta)
    expect("Root-Is-Purelib: false" in meta, "a platform wheel must install to platlib")
    expect(f"\nVersion: {VERSION}\n" in z.read(f"{info}/METADATA").decode(), "METADATA version")
    module = "ntsrch/" + os.path.basename(p["module"])
    want = {"ntsrch/__init__.py", "ntsrch/py.typed", module, "ntsrch/yyjson-LICENSE"}
    package = {n for n in z.namelist() if not n.startswith(info)}
    expect(package == want, f"package files {sorted(package)}, want {sorted(want)}")
    # pip refuses a wheel whose RECORD does not match its files.
    for row in z.read(f"{info}/RECORD").decode().splitlines():
        name, digest, _ = row.rsplit(",", 2)
        if digest:
            h = urlsafe_b64encode(hashlib.sha256(z.read(name)).digest()).rstrip(b"=").decode()
            expect(digest == f"sha256={h}", f"RECORD: {name} does not match")
    z.extract(module, tmp)
    return check_binary(os.path.join(tmp, module), p["kind"])


def auditwheel(p):
    out = run(os.path.join(VENV, "bin", "auditwheel"), "show", os.path.join(DIST, wheel_name(p)))
    expect(re.search(rf'consistent with\s+the\s+following\s+platform\s+tag:\s+"{p["wheel"]}"', out), out)
    return out.split("\n\n")[0]


def npm_prebuild(platform, tmp):
    file, kind = PREBUILDS[platform]
    tar = tarfile.open(os.path.join(DIST, f"ntsrch-{VERSION}.tgz"))
    pkg = json.load(tar.extractfile("package/package.json"))
    expect(pkg["version"] == VERSION, f"package.json version {pkg['version']}")
    there = sorted(os.path.basename(n) for n in tar.getnames() if n.startswith(f"package/prebuilds/{platform}/"))
    expect(there == sorted([file, "yyjson-LICENSE"]), f"prebuilds/{platform}: {there}")
    tar.extract(f"package/prebuilds/{platform}/{file}", tmp)
    return check_binary(os.path.join(tmp, "package", "prebuilds", platform, file), kind)


def archive(p, tmp):
    path = os.path.join(DIST, archive_name(p))
    if p["archive"] == "zip":
        with zipfile.ZipFile(path) as z:
            z.extractall(tmp)
            names = [n for n in z.namelist() if not n.endswith("/")]
    else:
        with tarfile.open(path) as t:
            t.extractall(tmp)
            names = [m.name for m in t.getmembers() if not m.isdir()]
    top = f"ntsrch-{VERSION}-{p['name']}"
    expect({n.split("/")[0] for n in names} == {top}, f"top folders: {sorted({n.split('/')[0] for n in names})}")
    files = {n.split("/", 1)[1] for n in names}
    want = {"LICENSE", "yyjson-LICENSE", "include/ntsrch.h", p["module"], p["tool"], *p["files"]}
    expect(want <= files, f"missing {sorted(want - files)}")
    expect(not [f for f in files if "libyyjson" in f], "yyjson ships inside the module only")
    d = os.path.join(tmp, top)
    expect(open(os.path.join(d, "include/ntsrch.h")).read() == HEADER, "header differs from include/ntsrch.h")
    notes = [check_binary(os.path.join(d, p["module"]), p["kind"]),
             check_binary(os.path.join(d, p["tool"]), exe(p["kind"]))]
    if p["pc"]:
        pc = open(os.path.join(d, p["pc"], "ntsrch.pc")).read()
        expect(f"\nVersion: {VERSION}\n" in pc and "${pcfiledir}" in pc, "pkg-config file: version or relative paths")
    for f in files:
        if f.endswith(".def"):
            listed = sorted(re.findall(r"^\s+(ntsrch_\w+)", open(os.path.join(d, f)).read(), re.M))
            expect(listed == EXPORTS, f"{f} lists {listed}")
        if f.endswith(".lib"):
            imports = run("llvm-nm", os.path.join(d, f))
            expect(all(f"__imp_{n}" in imports for n in EXPORTS), f"{f} lacks __imp_ symbols")
    return "; ".join(notes)


def archive_runs(p, tmp):
    """Unpacked anywhere, the tool finds the archive's module and pkg-config its files."""
    with tarfile.open(os.path.join(DIST, archive_name(p))) as t:
        t.extractall(tmp)
    d = os.path.join(tmp, f"ntsrch-{VERSION}-{p['name']}")
    env = {k: v for k, v in os.environ.items() if k not in ("NTSRCH_MODULE", "LD_LIBRARY_PATH")}
    out = run(*p["run"], os.path.join(d, p["tool"]), "--version", env=env)
    expect(f"module {VERSION}" in out, out)
    env["PKG_CONFIG_PATH"] = os.path.join(d, p["pc"])
    module = run("pkg-config", "--variable=module", "ntsrch", env=env).strip()
    expect(os.path.realpath(module) == os.path.realpath(os.path.join(d, p["module"])), f"pkg-config module {module}")
    expect(run("pkg-config", "--modversion", "ntsrch", env=env).strip() == VERSION, "pkg-config version")
    return out.strip().replace("\n", "; ")


def archive_links(p, tmp):
    """MSVC's linker stand-in links a program to the DLL through the archive's import library,
    with the archive's header compiled for the MSVC target."""
    with zipfile.ZipFile(os.path.join(DIST, archive_name(p))) as z:
        z.extractall(tmp)
    d = os.path.join(tmp, f"ntsrch-{VERSION}-{p['name']}")
    # Each address read at run time, through the import table.
    used = ", ".join(f"(void *){n}" for n in EXPORTS)
    with open(f"{tmp}/host.c", "w") as f:
        f.write(f"#include <ntsrch.h>\nint start(void) {{\n  void *volatile used[] = {{{used}}};\n"
                "  return ntsrch_abi_version() == NTSRCH_ABI_VERSION && used[0] != 0;\n}\n")
    run("clang", "--target=x86_64-pc-windows-msvc", "-ffreestanding", "-Werror", f"-I{d}/include", "-c",
        f"{tmp}/host.c", "-o", f"{tmp}/host.obj")
    lib = next(f for f in p["files"] if f.endswith(".lib"))
    run("lld-link", "/nologo", "/entry:start", "/subsystem:console", "/nodefaultlib", f"{tmp}/host.obj",
        f"{d}/{lib}", f"/out:{tmp}/host.exe")
    imports = run("llvm-readobj", "--coff-imports", f"{tmp}/host.exe")
    got = sorted(re.findall(r"Symbol: (ntsrch_\w+)", imports))
    expect(f"Name: {M}.dll" in imports and got == EXPORTS, f"host.exe imports {got}:\n{imports}")
    return f"host.exe imports {len(got)} functions from {M}.dll"


def wheel_suite(p, tmp):
    """The binding's suite against the installed wheel, from a folder without the sources."""
    venv = os.path.join(tmp, "venv")
    run("/usr/bin/python3", "-m", "venv", venv)
    run(f"{venv}/bin/pip", "install", "--no-index", "--disable-pip-version-check", os.path.join(DIST, wheel_name(p)))
    os.makedirs(f"{tmp}/py/bindings/python")
    os.makedirs(f"{tmp}/py/include")
    for test in ("test_ntsrch.py", "test_contract.py"):
        shutil.copy(f"{ROOT}/bindings/python/{test}", f"{tmp}/py/bindings/python/")
    os.symlink(f"{ROOT}/include/ntsrch.h", f"{tmp}/py/include/ntsrch.h")
    os.symlink(f"{ROOT}/bindings/contract", f"{tmp}/py/bindings/contract")
    env = {k: v for k, v in os.environ.items() if k not in ("NTSRCH_MODULE", "LD_LIBRARY_PATH", "PYTHONPATH")}
    r = subprocess.run([f"{venv}/bin/python", "-m", "unittest", "discover", "-s", f"{tmp}/py/bindings/python",
                        "-p", "test_*.py"], capture_output=True, text=True, cwd=tmp, env=env)
    expect(r.returncode == 0, r.stderr[-4000:])
    where = run(f"{venv}/bin/python", "-c", "import ntsrch; print(ntsrch.Library().path)", cwd=tmp, env=env).strip()
    expect(where.startswith(f"{venv}/lib/"), f"loaded {where}, not the wheel's module")
    return r.stderr.strip().splitlines()[-3]


def npm_runs(tmp):
    """The packages stage's smoke test against the five-platform tarball: the linux-x64
    prebuild is the module loaded, and every function answers."""
    run("npm", "install", "--no-audit", "--no-fund", "--no-package-lock", os.path.join(DIST, f"ntsrch-{VERSION}.tgz"),
        cwd=tmp)
    shutil.copy(os.path.join(ROOT, "tests", "packages", "smoke.js"), tmp)
    env = {k: v for k, v in os.environ.items() if k not in ("NTSRCH_MODULE", "LD_LIBRARY_PATH")}
    out = run("node", "-e", "console.log(require('ntsrch').version)", cwd=tmp, env=env).strip()
    expect(out == VERSION, f"ntsrch.version is {out}")
    return run("node", "smoke.js", cwd=tmp, env=env).strip()


def jar_natives(jar):
    with zipfile.ZipFile(os.path.join(DIST, jar)) as z:
        return {n: z.read(n) for n in z.namelist()
                if not n.endswith("/") and not n.startswith(("com/", "META-INF/"))}


def jvm_jar(tmp):
    """Classes for Java 11, the manifest's entries, and the five modules, each checked."""
    with zipfile.ZipFile(os.path.join(DIST, JVM_JAR)) as z:
        classes = [n for n in z.namelist() if n.endswith(".class")]
        expect("com/nortaveltune/ntsrch/Ntsrch.class" in classes, f"{JVM_JAR} lacks Ntsrch.class")
        for c in classes:
            major, = struct.unpack(">H", z.read(c)[6:8])
            expect(major <= 55, f"{c}: class file version {major}, above Java 11's 55")
        manifest = z.read("META-INF/MANIFEST.MF").decode()
    for entry in ("Automatic-Module-Name: com.nortaveltune.ntsrch", "Enable-Native-Access: ALL-UNNAMED"):
        expect(entry in manifest, f"the manifest lacks {entry}")
    natives = jar_natives(JVM_JAR)
    want = sorted(f"{p}/{f}" for p, (f, _) in JNA_PLATFORMS.items())
    expect(sorted(natives) == want, f"{JVM_JAR} holds {sorted(natives)}, want {want}")
    notes = []
    for p, (f, kind) in JNA_PLATFORMS.items():
        # Under its own name: a Mach-O file names itself among its load commands.
        os.makedirs(os.path.join(tmp, p))
        path = os.path.join(tmp, p, f)
        with open(path, "wb") as out:
            out.write(natives[f"{p}/{f}"])
        notes.append(check_binary(path, kind))
    return f"{len(classes)} classes; " + "; ".join(notes)


def jvm_classifier(platform, _tmp):
    jar = f"ntsrch-{VERSION}-{platform}.jar"
    natives = jar_natives(jar)
    name = f"{platform}/{JNA_PLATFORMS[platform][0]}"
    expect(list(natives) == [name], f"{jar} holds {sorted(natives)}, want [{name}]")
    expect(natives[name] == jar_natives(JVM_JAR)[name], f"{jar}: {name} differs from the main jar's")
    with zipfile.ZipFile(os.path.join(DIST, jar)) as z, zipfile.ZipFile(os.path.join(DIST, JVM_JAR)) as m:
        mine = sorted(n for n in z.namelist() if n.endswith(".class"))
        expect(mine == sorted(n for n in m.namelist() if n.endswith(".class")), f"{jar}: classes differ")


def jvm_docs(_tmp):
    for jar, member in ((f"ntsrch-{VERSION}-sources.jar", "com/nortaveltune/ntsrch/Ntsrch.java"),
                        (f"ntsrch-{VERSION}-javadoc.jar", "com/nortaveltune/ntsrch/Ntsrch.html")):
        with zipfile.ZipFile(os.path.join(DIST, jar)) as z:
            # javadoc may put its pages under the automatic module's name.
            expect(any(n == member or n.endswith("/" + member) for n in z.namelist()), f"{jar} lacks {member}")


def jvm_pom(_tmp):
    """Standalone (no parent to fetch), this version, and JNA its one runtime dependency."""
    import xml.etree.ElementTree as ET
    ns = {"m": "http://maven.apache.org/POM/4.0.0"}
    root = ET.parse(os.path.join(DIST, f"ntsrch-{VERSION}.pom")).getroot()
    expect(root.find("m:parent", ns) is None, "the POM has a parent")
    coords = [root.findtext(f"m:{k}", namespaces=ns) for k in ("groupId", "artifactId", "version")]
    expect(coords == ["com.nortaveltune", "ntsrch", VERSION], f"the POM is {coords}")
    deps = [(d.findtext("m:artifactId", namespaces=ns), d.findtext("m:scope", namespaces=ns))
            for d in root.findall("m:dependencies/m:dependency", ns)]
    expect([a for a, scope in deps if scope in (None, "compile", "runtime")] == ["jna"], f"runtime dependencies {deps}")


def jvm_app(tmp):
    """The artifact installed into an empty local Maven repository; a two-line app built with
    Maven against it and run. Maven's plugins and JNA come from the registry: here, the copy
    of it that scripts/install-deps jvm made, as a mirror, so nothing else can come in."""
    repo, app = os.path.join(tmp, "repo"), os.path.join(tmp, "app")
    shutil.copytree(os.path.join(ROOT, "tests", "release", "jvm-app"), app)
    settings = os.path.join(tmp, "settings.xml")
    with open(settings, "w") as f:
        f.write("<settings><mirrors><mirror><id>registry</id><mirrorOf>*</mirrorOf>"
                f"<url>file://{JVM_CACHE}/m2</url></mirror></mirrors></settings>\n")
    env = dict(os.environ, JAVA_HOME=JDK17)
    env.pop("NTSRCH_MODULE", None)
    mvn = ["/usr/bin/mvn", "-B", "-q", "-s", settings, f"-Dmaven.repo.local={repo}"]
    run(*mvn, "org.apache.maven.plugins:maven-install-plugin:3.1.4:install-file", f"-Dfile={os.path.join(DIST, JVM_JAR)}",
        f"-DpomFile={os.path.join(DIST, f'ntsrch-{VERSION}.pom')}", cwd=tmp, env=env)
    run(*mvn, f"-Dntsrch.version={VERSION}", "package", "dependency:build-classpath", "-Dmdep.outputFile=cp.txt",
        cwd=app, env=env)
    cp = open(os.path.join(app, "cp.txt")).read().strip().split(os.pathsep)
    expect(sorted(os.path.basename(c) for c in cp) == ["jna-5.19.1.jar", JVM_JAR], f"the app's class path: {cp}")
    os.makedirs(os.path.join(tmp, "jtmp"))
    out = run(f"{JDK17}/bin/java", f"-Djava.io.tmpdir={tmp}/jtmp", f"-Djna.tmpdir={tmp}/jtmp", "-cp",
              os.pathsep.join([os.path.join(app, "target", "app-1.jar")] + cp), "Main", cwd=app, env=env).strip()
    want = "https://api.nortaveltune.com/search/api?q=night%20skies&format=json"
    expect(out == want, f"the app printed {out!r}")
    return out


def crate_files(crate):
    with tarfile.open(os.path.join(DIST, f"{crate}.crate")) as t:
        names = [m.name for m in t.getmembers() if not m.isdir()]
        expect({n.split("/")[0] for n in names} == {crate}, f"top folders of {crate}.crate")
        return {n.split("/", 1)[1]: t.extractfile(n).read() for n in names}


def crate_sys(_tmp):
    """The -sys crate carries the module's sources as they are in the repository, yyjson's
    with its license, and the project's version."""
    files = crate_files(CRATE_SYS)
    src = sorted(f for f in os.listdir(os.path.join(ROOT, "src")) if f.endswith((".cpp", ".h")))
    expect(sorted(f[len("csrc/src/"):] for f in files if f.startswith("csrc/src/")) == src, "csrc/src/ differs")
    for f in src:
        expect(files[f"csrc/src/{f}"] == open(os.path.join(ROOT, "src", f), "rb").read(), f"csrc/src/{f} differs")
    expect(files["csrc/include/ntsrch.h"].decode() == HEADER, "csrc/include/ntsrch.h differs")
    expect({"csrc/yyjson/yyjson.c", "csrc/yyjson/yyjson.h", "csrc/yyjson/LICENSE", "build.rs", "LICENSE"} <= set(files),
           f"files: {sorted(files)}")
    manifest = files["Cargo.toml"].decode()
    expect(f'version = "{VERSION}+ntsrch.{VERSION}"' in manifest and 'links = "ntsrch"' in manifest, "Cargo.toml")
    return f"{len(files)} files"


def crate_safe(_tmp):
    files = crate_files(CRATE)
    manifest = files["Cargo.toml"].decode()
    expect(f'version = "{VERSION}"' in manifest, "Cargo.toml version")
    expect(re.search(rf'\[dependencies\.ntsrch-sys\]\s+version = "={VERSION}"', manifest), "ntsrch-sys dependency")
    return f"{len(files)} files"


RUST_APP = """fn main() {
    assert_eq!(ntsrch::abi_version(), ntsrch::sys::NTSRCH_ABI_VERSION);
    println!("{}", ntsrch::version());
    println!("{}", ntsrch::build_search_url("night skies", Some("https://h/")).unwrap());
    let o = ntsrch::FilterOptions { sort: ntsrch::SortMode::TitleAsc, ..Default::default() };
    println!("{}", ntsrch::filter_and_sort_tracks(r#"[{"title":"b"},{"title":"A"}]"#, &o).unwrap());
}
"""


def crates_app(tmp):
    """An application in an empty folder, depending on the two crates by path, builds with
    Debian's cargo from Debian's packaged crates (cc) and runs as one file."""
    app = os.path.join(tmp, "app")
    os.makedirs(f"{app}/src")
    os.makedirs(f"{app}/.cargo")
    for c in CRATES:
        with tarfile.open(os.path.join(DIST, c)) as t:
            t.extractall(f"{app}/crates")
    with open(f"{app}/Cargo.toml", "w") as f:
        f.write(f'[package]\nname = "app"\nversion = "0.1.0"\nedition = "2021"\n\n[dependencies]\n'
                f'ntsrch = {{ path = "crates/{CRATE}" }}\n\n[patch.crates-io]\n'
                f'ntsrch-sys = {{ path = "crates/{CRATE_SYS}" }}\n')
    with open(f"{app}/.cargo/config.toml", "w") as f:
        f.write('[source.crates-io]\nreplace-with = "debian"\n\n[source.debian]\n'
                'directory = "/usr/share/cargo/registry"\n\n[net]\noffline = true\n')
    with open(f"{app}/src/main.rs", "w") as f:
        f.write(RUST_APP)
    env = {"PATH": "/usr/bin:/bin", "HOME": tmp, "CARGO_HOME": f"{tmp}/cargo-home", "TMPDIR": tmp}
    run("/usr/bin/cargo", "build", "--quiet", "--release", cwd=app, env=env)
    binary = f"{app}/target/release/app"
    deps = dependencies(binary, ("elf", ["x86_64"], "exe"))
    expect(not [d for d in deps if "stdc++" in d or M in d], f"app loads {sorted(deps)}")
    out = run(binary, env={"PATH": "/usr/bin:/bin"}).splitlines()
    want = [VERSION, "https://h/search/api?q=night%20skies&format=json", '[{"title":"A"},{"title":"b"}]']
    expect(out == want, f"app printed {out}")
    return f"app loads {' '.join(sorted(deps))}"


def main():
    results = sys.argv[1]
    os.makedirs(results, exist_ok=True)
    checks = [("dist_files", dist_files), ("sha256sums", sha256sums), ("changelog", changelog)]
    checks += [(f"deb_version {d}", lambda _t, d=d: deb_version(d)) for d in DEBS]
    for p in PLATFORMS:
        checks.append((f"wheel {p['wheel']}", lambda t, p=p: wheel(p, t)))
        if p["name"].startswith("linux"):
            checks.append((f"auditwheel {p['wheel']}", lambda _t, p=p: auditwheel(p)))
        checks.append((f"archive {p['name']}", lambda t, p=p: archive(p, t)))
        if p["run"] is not None:
            checks.append((f"archive {p['name']} runs", lambda t, p=p: archive_runs(p, t)))
        if p["archive"] == "zip":
            checks.append((f"archive {p['name']} links with lld-link", lambda t, p=p: archive_links(p, t)))
    checks += [(f"npm prebuild {k}", lambda t, k=k: npm_prebuild(k, t)) for k in PREBUILDS]
    checks += [("wheel manylinux_2_17_x86_64 binding suite", lambda t: wheel_suite(PLATFORMS[0], t)),
               ("npm package runs (linux-x64)", npm_runs),
               ("crate ntsrch-sys", crate_sys), ("crate ntsrch", crate_safe),
               ("Rust app from the crates builds and runs", crates_app)]
    checks += [("jvm jar", jvm_jar), ("jvm sources and javadoc", jvm_docs), ("jvm pom", jvm_pom)]
    checks += [(f"jvm jar {p}", lambda t, p=p: jvm_classifier(p, t)) for p in JNA_PLATFORMS]
    checks.append(("jvm app builds with Maven and runs", jvm_app))
    failed = 0
    with open(os.path.join(results, "release.txt"), "w") as out:
        for name, fn in checks:
            tmp = tempfile.mkdtemp(prefix="ntsrch-release-")
            try:
                note = fn(tmp)
                out.write(f"pass {name}\n")
                print(f"  pass {name}" + (f": {note}" if note else ""))
            except Exception as e:  # every error is that check's failure
                failed += 1
                out.write(f"fail {name}\n")
                detail = str(e) if isinstance(e, (Failed, OSError)) else traceback.format_exc()
                print(f"  FAIL {name}: " + detail.replace("\n", "\n    "))
            finally:
                shutil.rmtree(tmp, ignore_errors=True)
        for f in DIST_FILES:
            if os.path.exists(os.path.join(DIST, f)):
                out.write(f"note {f}: {os.path.getsize(os.path.join(DIST, f)) / 1024:.0f} KiB\n")
    print(f"release: {len(checks) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

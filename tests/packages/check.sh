#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks every artifact of dist/ the way its users get it: the Debian packages (lintian,
# contents, C hosts built with pkg-config and with find_package against their files, the
# tool and its man page, and apt install into bare Debian 12 and 13 roots), the wheel in a
# fresh venv, the npm tarball in an empty folder, and the .NET wrapper under mono. Writes
# result lines (scripts/results.py) to RESULTS/packages.txt and exits 1 when any check
# failed.
# Usage: tests/packages/check.sh RESULTS_DIR [BARE_ROOT_CACHE]
set -uo pipefail
# Under pipefail a grep -q that stops reading early fails its writer (SIGPIPE): a grep at
# the end of a pipeline here reads all of its input.
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
results=$1
bare_root_cache=${2:-$root/build-bare-root}
dist=$root/dist
python=${NTSRCH_DIST_PYTHON:-/usr/bin/python3}
module_file=nortavel-nortaveltune-search-client.so
ma=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
header() { cmake -DNTSRCH_PRINT="$1" -P "$root/cmake/ntsrch-header.cmake"; }
version=$(header version)
# What the module must export, sorted as nm prints it.
exports=$(header exports | LC_ALL=C sort | tr '\n' ' ')
result() { "$root/scripts/results.py" "$@" >>"$out"; }
out=$results/packages.txt
mkdir -p "$results"
: >"$out"

tmp=$(mktemp -d "${TMPDIR:-/tmp}"/ntsrch-packages-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
# Nothing below may find a module through the environment.
unset NTSRCH_MODULE LD_LIBRARY_PATH PKG_CONFIG_PATH

failed=0
# check NAME COMMAND...: runs one check, keeps its output in the log, prints it on failure.
check() {
    local name=$1 log=$tmp/$1.log start=$SECONDS
    shift
    if "$@" >"$log" 2>&1; then
        result pass "$name"
        echo "  pass $name ($((SECONDS - start)) s)"
    else
        result fail "$name"
        echo "  FAIL $name; its output:"
        sed 's/^/    /' "$log"
        failed=1
    fi
}

deb() { ls "$dist"/"$1"_*.deb; }
runtime_deb=$(deb nortavel-nortaveltune-search-client)
dev_deb=$(deb ntsrch-dev)
tool_deb=$(deb ntsrch)

lintian_clean() {
    # Overrides (debian/*.lintian-overrides) say why each is there. (--show-overrides
    # would count them as failures.)
    # lintian leaves its mldbm-elf-* caches in TMPDIR: give it one that the trap removes.
    mkdir -p "$tmp/lintian"
    TMPDIR=$tmp/lintian lintian --fail-on error,warning --display-level ">=info" "$dist"/*.deb
}

deb_contents() {
    local want pkg=$1
    shift
    for want in "$@"; do
        dpkg-deb -c "$pkg" | awk '{print $6}' | grep -xF "./$want" >/dev/null ||
            { echo "$(basename "$pkg") lacks /$want"; return 1; }
    done
    echo "$(basename "$pkg"): $*"
}
deb_dependencies() {
    # yyjson is linked in: the runtime package needs the C library and nothing else.
    local depends
    depends=$(dpkg-deb -f "$runtime_deb" Depends)
    echo "runtime Depends: $depends"
    grep -Eqx 'libc6 \(>= [0-9.]+\)' <<<"$depends" || return 1
    dpkg-deb -f "$dev_deb" Depends | grep "nortavel-nortaveltune-search-client (= " >/dev/null &&
        dpkg-deb -f "$tool_deb" Depends | grep "nortavel-nortaveltune-search-client (= " >/dev/null
}
deb_module_symbols() {
    # The packaged module exports exactly the header's functions (yyjson's own symbols stay
    # hidden inside it) and loads no library but libc.
    local m=$sysroot/usr/lib/$ma/$module_file got needed
    got=$(nm -D --defined-only "$m" | awk '{print $3}' | LC_ALL=C sort | tr '\n' ' ')
    needed=$(readelf -d "$m" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
    echo "exports: $got"
    echo "needed: $needed"
    [ "$got" = "$exports" ] &&
        ! readelf --dyn-syms -W "$m" | grep yyjson >/dev/null && [ "$needed" = "libc.so.6 " ]
}
deb_yyjson_license() {
    # Every package's copyright file carries yyjson's licence beside the project's.
    local d
    for d in "$runtime_deb" "$dev_deb" "$tool_deb"; do
        dpkg-deb --fsys-tarfile "$d" | tar -xO --wildcards './usr/share/doc/*/copyright' |
            grep '^Files: yyjson/\*$' >/dev/null || { echo "$(basename "$d"): no yyjson in copyright"; return 1; }
    done
}

# The packages' files unpacked into one tree; pkg-config reads the .pc file found there.
sysroot=$tmp/root
unpack() {
    local d
    for d in "$dist"/*.deb; do dpkg-deb -x "$d" "$sysroot" || return 1; done
}
pkgconfig_consumer() {
    local flags libdir
    local -x PKG_CONFIG_LIBDIR=$sysroot/usr/lib/$ma/pkgconfig
    pkg-config --exists ntsrch || return 1
    flags=$(pkg-config --cflags --libs ntsrch) || return 1
    libdir=$(realpath "$(pkg-config --variable=libdir ntsrch)")
    echo "pkg-config ntsrch: $flags"
    [ "$(realpath "$(pkg-config --variable=includedir ntsrch)")" = "$sysroot/usr/include" ] &&
        [ "$(realpath "$(pkg-config --variable=module ntsrch)")" = "$sysroot/usr/lib/$ma/$module_file" ] ||
        { echo "pkg-config does not point into the packages' files"; return 1; }
    # shellcheck disable=SC2086
    cc -std=c99 -Wall -Wextra -Werror -o "$tmp/consumer" "$root/tests/consumer/consumer.c" $flags \
        -Wl,-rpath,"$libdir" || return 1
    "$tmp/consumer" && ldd "$tmp/consumer" | grep -F "$sysroot/usr/lib/$ma/$module_file"
}
cmake_consumer() {
    # Release build of the host against the packages' CMake package (built as "None").
    cmake -S "$root/tests/consumer" -B "$tmp/consumer-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$sysroot/usr" -DCMAKE_BUILD_RPATH="$sysroot/usr/lib/$ma" &&
        cmake --build "$tmp/consumer-cmake" && "$tmp/consumer-cmake/consumer" | tee "$tmp/cmake-consumer.out" &&
        grep -qF "module: $sysroot/usr/lib/$ma/$module_file" "$tmp/cmake-consumer.out"
}
tool_and_man_page() {
    local tool=$sysroot/usr/bin/ntsrch
    LD_LIBRARY_PATH=$sysroot/usr/lib/$ma "$tool" version | tee "$tmp/tool-version" &&
        grep -qxF "ntsrch $version (ABI $(header abi_version))" "$tmp/tool-version" &&
        LD_LIBRARY_PATH=$sysroot/usr/lib/$ma "$tool" selftest &&
        [ "$(LD_LIBRARY_PATH=$sysroot/usr/lib/$ma "$tool" url "night skies" --base https://h)" = \
            "https://h/search/api?q=night%20skies&format=json" ] || return 1
    # The man page renders without a warning from the formatter.
    MANWIDTH=80 man --warnings -l "$sysroot/usr/share/man/man1/ntsrch.1.gz" >"$tmp/man.txt" 2>"$tmp/man.err"
    cat "$tmp/man.err"
    [ ! -s "$tmp/man.err" ] && grep -q ntsrch "$tmp/man.txt"
}

wheel_contents() {
    # One wheel, with the tag the package index accepts for this machine, carrying the
    # module, yyjson and yyjson's license.
    "$python" - "$dist" <<'PY'
import glob, platform, sys, zipfile
tag = f"manylinux_2_17_{platform.machine()}"
wheels = glob.glob(f"{sys.argv[1]}/ntsrch-*.whl")
assert [w.endswith(f"-py3-none-{tag}.whl") for w in wheels] == [True], (wheels, tag)
names = set(zipfile.ZipFile(wheels[0]).namelist())
want = {"ntsrch/__init__.py", "ntsrch/py.typed", "ntsrch/nortavel-nortaveltune-search-client.so",
        "ntsrch/yyjson-LICENSE"}
assert want <= names, sorted(want - names)
assert any(n.endswith(".dist-info/LICENSE") for n in names), sorted(names)
assert not any("libyyjson" in n for n in names), sorted(names)
print(wheels[0], sorted(names), sep="\n")
PY
}

venv=$tmp/venv
wheel_install() {
    "$python" -m venv "$venv" && "$venv/bin/pip" install --no-index --disable-pip-version-check \
        "$dist"/ntsrch-*.whl
}
wheel_binding_tests() {
    # The binding's tests beside links to the header and the case table they read, away from the sources, so
    # "import ntsrch" can only find the installed wheel.
    mkdir -p "$tmp/py/bindings/python" "$tmp/py/include"
    cp "$root"/bindings/python/test_*.py "$tmp/py/bindings/python/"
    ln -s "$root/include/ntsrch.h" "$tmp/py/include/ntsrch.h"
    ln -s "$root/bindings/contract" "$tmp/py/bindings/contract"
    (cd "$tmp" && "$venv/bin/python" -m unittest discover -v -s "$tmp/py/bindings/python" -p "test_*.py")
}
wheel_bundled_module() {
    (cd "$tmp" && "$venv/bin/python" "$here/bundled.py")
}
wheel_types() {
    # py.typed is what lets mypy use the installed package's hints at all.
    "$python" -m mypy --strict --python-executable "$venv/bin/python" --no-incremental \
        "$here/typed_use.py" &&
        (cd "$root/bindings/python" && "$python" -m mypy --strict --no-incremental ntsrch)
}

app=$tmp/app
npm_install() {
    mkdir -p "$app" &&
        (cd "$app" && npm install --no-audit --no-fund --no-package-lock "$dist/ntsrch-$version.tgz") &&
        for f in "$module_file" yyjson-LICENSE; do
            [ -f "$app/node_modules/ntsrch/prebuilds/linux-x64/$f" ] || { echo "no prebuilds/linux-x64/$f"; return 1; }
        done
}
npm_smoke() {
    cp "$here/smoke.js" "$app/" && (cd "$app" && node smoke.js)
}
npm_types() {
    # TypeScript from the binding's own dev dependencies (npm ci in bindings/node).
    local tsc=$root/bindings/node/node_modules/.bin/tsc
    [ -x "$tsc" ] || { echo "no $tsc: run npm ci in bindings/node"; return 1; }
    cp "$root/bindings/node/test/types.ts" "$app/" &&
        (cd "$app" && "$tsc" --version && "$tsc" --strict --noEmit --target es2020 --module node16 \
            --moduleResolution node16 types.ts)
}

dotnet_wrapper() {
    # The wrapper's own checks print pass/fail lines: they go to the results as they are.
    mcs -langversion:7.2 -unsafe -warnaserror -out:"$tmp/ntsrch-check.exe" "$root/bindings/dotnet/Ntsrch.cs" \
        "$root/bindings/dotnet/NtsrchCheck.cs" "$root/bindings/dotnet/NtsrchContract.cs" || return 1
    LD_LIBRARY_PATH=$sysroot/usr/lib/$ma mono "$tmp/ntsrch-check.exe" "$root/bindings/contract/cases.json" |
        tee "$tmp/dotnet.txt"
    local rc=${PIPESTATUS[0]}
    grep -E '^(pass|fail|skip) ' "$tmp/dotnet.txt" >>"$out"
    return "$rc"
}

echo "Debian packages:"
check lintian lintian_clean
check deb_runtime_contents deb_contents "$runtime_deb" "usr/lib/$ma/$module_file"
check deb_dev_contents deb_contents "$dev_deb" usr/include/ntsrch.h \
    "usr/lib/$ma/pkgconfig/ntsrch.pc" "usr/lib/$ma/cmake/ntsrch/ntsrch-config.cmake" \
    "usr/lib/$ma/cmake/ntsrch/ntsrch-config-version.cmake" "usr/lib/$ma/cmake/ntsrch/ntsrch-targets.cmake"
check deb_tool_contents deb_contents "$tool_deb" usr/bin/ntsrch usr/share/man/man1/ntsrch.1.gz
check deb_dependencies deb_dependencies
check deb_unpack unpack
check deb_module_symbols deb_module_symbols
check deb_yyjson_license deb_yyjson_license
check deb_pkgconfig_consumer pkgconfig_consumer
check deb_cmake_consumer cmake_consumer
check deb_tool_and_man_page tool_and_man_page
# The first run makes each root with debootstrap (about 2-4 min each, network); later runs
# reuse them (about 10 s each). NTSRCH_BARE_ROOT_CHECK=0 leaves them out, reported as skipped.
for release in "bookworm 12" "trixie 13"; do
    read -r suite number <<<"$release"
    if [ "${NTSRCH_BARE_ROOT_CHECK:-1}" = 0 ]; then
        result skip "deb_bare_debian${number}_install" "NTSRCH_BARE_ROOT_CHECK=0"
    else
        check "deb_bare_debian${number}_install" "$here/bare-root.sh" "$suite" "$bare_root_cache"
    fi
done
echo "Python wheel:"
check wheel_contents wheel_contents
check wheel_install wheel_install
check wheel_binding_tests wheel_binding_tests
check wheel_bundled_module wheel_bundled_module
check wheel_types wheel_types
echo "npm package:"
check npm_install npm_install
check npm_smoke npm_smoke
check npm_types npm_types
echo ".NET wrapper (mono):"
check dotnet_wrapper dotnet_wrapper
exit "$failed"

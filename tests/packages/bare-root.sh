#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs dist/*.deb for real, with apt-get, into a bare Debian 12 root (debootstrap
# minbase, plus a C compiler and pkg-config to build a consumer), then uses them there as a
# user would: the tool, the module loaded by bare file name, a C program built with plain
# `pkg-config ntsrch`, and removal. Debian 12 has no yyjson, so Debian 13's libyyjson0 .deb
# goes in beside ours, as a Debian 12 user would have to bring it.
#
# The root is made once and kept as a tarball in CACHE (default build-bare-root/); an
# existing minbase tarball can be given instead with NTSRCH_BARE_ROOT=FILE.tar.
# Usage: tests/packages/bare-root.sh [CACHE_DIR]       (root; needs debootstrap)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
cache=${1:-$src/build-bare-root}
dist=$src/dist
arch=$(dpkg --print-architecture)
tools=(gcc libc6-dev pkg-config)

mkdir -p "$cache"
tarball=${NTSRCH_BARE_ROOT:-$cache/bookworm-minbase.tar}
if [ ! -s "$tarball" ]; then
    echo "bare-root: debootstrap --variant=minbase bookworm (once; kept as $tarball)"
    mirror=$(bash -c 'source "$1" && archive_uri' _ "$src/scripts/install-deps")
    rm -rf "$cache/make"
    debootstrap --variant=minbase --include="$(IFS=,; echo "${tools[*]}")" bookworm \
        "$cache/make" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        { tail -n 20 "$cache/debootstrap.log"; exit 1; }
    tar -C "$cache/make" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
    rm -rf "$cache/make"
fi

yyjson_deb=$(ls "$cache"/libyyjson0_*.deb 2>/dev/null | head -n1 || true)
if [ -z "$yyjson_deb" ]; then
    echo "bare-root: downloading Debian 13's libyyjson0"
    (
        # shellcheck source=../../scripts/install-deps
        source "$src/scripts/install-deps"
        apt_dir=$(mktemp -d)
        next_release "$apt_dir" deb "$arch" update >/dev/null
        (cd "$apt_dir/debs" && next_release "$apt_dir" deb "$arch" download "libyyjson0:$arch" >/dev/null)
        cp "$apt_dir"/debs/libyyjson0_*.deb "$cache/"
        rm -rf "$apt_dir"
    )
    yyjson_deb=$(ls "$cache"/libyyjson0_*.deb | head -n1)
fi

root=$(mktemp -d /tmp/ntsrch-bare-root-XXXXXX)
cleanup() {
    umount "$root/proc" 2>/dev/null || true
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT
tar -C "$root" -xf "$tarball"
mount -t proc proc "$root/proc"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

# The root's own tools, without the network when the tarball already has them.
missing=()
for t in "${tools[@]}"; do in_root dpkg -s "$t" >/dev/null 2>&1 || missing+=("$t"); done
if [ "${#missing[@]}" -gt 0 ]; then
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    in_root apt-get update -qq && in_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

mkdir -p "$root/tmp/debs"
cp "$dist"/*.deb "$yyjson_deb" "$root/tmp/debs/"
echo "bare-root: apt-get install ./*.deb"
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -o Dpkg::Use-Pty=0 /tmp/debs/*.deb' \
    >"$root/tmp/apt.log" 2>&1 || { cat "$root/tmp/apt.log"; exit 1; }
grep -E '^Setting up' "$root/tmp/apt.log"
in_root dpkg-query -W -f='${Package} ${Version} ${Status}\n' nortavel-nortaveltune-search-client \
    ntsrch-dev ntsrch libyyjson0

# The tool finds the module by file name in the system library path.
[ "$(in_root ntsrch url "night skies" --base https://h)" = "https://h/search/api?q=night%20skies&format=json" ]
in_root ntsrch selftest
[ -f "$root/usr/share/man/man1/ntsrch.1.gz" ]

# A C host built with plain pkg-config, run without any path set: the loader finds the
# module by its SONAME, as any program linked against it would.
cp "$src/tests/consumer/consumer.c" "$root/tmp/consumer.c"
in_root sh -c 'cc -std=c99 -Wall -Wextra -Werror -o /tmp/consumer /tmp/consumer.c $(pkg-config --cflags --libs ntsrch)'
in_root /tmp/consumer
# A host that loads it by bare file name, as the bindings do.
cat >"$root/tmp/dl.c" <<'EOF'
#include <dlfcn.h>
#include <stdio.h>
int main(void) {
    void *m = dlopen("nortavel-nortaveltune-search-client.so", RTLD_NOW);
    int (*selftest)(void);
    if (!m) { fprintf(stderr, "%s\n", dlerror()); return 1; }
    *(void **)&selftest = dlsym(m, "ntsrch_selftest");
    return selftest && selftest() == 0 ? 0 : 1;
}
EOF
in_root cc -o /tmp/dl /tmp/dl.c -ldl
in_root /tmp/dl

# The packages leave nothing behind.
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o Dpkg::Use-Pty=0 ntsrch ntsrch-dev \
    nortavel-nortaveltune-search-client >/dev/null
for f in /usr/bin/ntsrch /usr/include/ntsrch.h "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/nortavel-nortaveltune-search-client.so"; do
    [ ! -e "$root$f" ] || { echo "left behind after purge: $f"; exit 1; }
done
echo "bare-root: installed, used and purged on Debian 12 ($(cat "$root/etc/debian_version"))"

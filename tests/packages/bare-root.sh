#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs dist/*.deb for real, with `apt install ./dist/*.deb`, into a bare Debian root
# (debootstrap minbase of SUITE, plus a C compiler and pkg-config to build a consumer: the
# packages themselves get nothing added), then uses them there as a user would: the tool,
# a C program built with plain `pkg-config ntsrch`, the module loaded by bare file name,
# and a purge that must leave no file of the packages behind.
#
# Each root is made once and kept as CACHE_DIR/SUITE-minbase.tar (tests/packages/check.sh
# gives the folder).
# Usage: tests/packages/bare-root.sh SUITE CACHE_DIR    (root; needs debootstrap)
#        SUITE: bookworm (Debian 12) or trixie (Debian 13)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
suite=$1 cache=$2
dist=$src/dist
tools=(gcc libc6-dev pkg-config)
packages=(nortavel-nortaveltune-search-client ntsrch-dev ntsrch)
version=$(cmake -DNTSRCH_PRINT=version -P "$src/cmake/ntsrch-header.cmake")
say() { echo "bare-root $suite: $*"; }
die() { echo "bare-root $suite: $*" >&2; exit 1; }

mkdir -p "$cache"
tarball=$cache/$suite-minbase.tar
if [ ! -s "$tarball" ]; then
    # Before minutes of downloading: this debootstrap knows the release, the archive this
    # machine's apt uses serves it, and its signature checks out against the keyring that
    # debootstrap uses (Debian 12's debian-archive-keyring carries Debian 13's keys).
    [ -e "/usr/share/debootstrap/scripts/$suite" ] || die "this debootstrap does not know $suite"
    mirror=$(bash -c 'source "$1" && archive_uri' _ "$src/scripts/install-deps")
    release=$(mktemp)
    wget -q -O "$release" "$mirror/dists/$suite/InRelease" || die "$mirror serves no $suite"
    gpgv --keyring /usr/share/keyrings/debian-archive-keyring.gpg "$release" >/dev/null 2>&1 ||
        { rm -f "$release"; die "$suite's InRelease is not signed by a key of debian-archive-keyring"; }
    rm -f "$release"
    say "debootstrap --variant=minbase $suite (once; kept as $tarball)"
    rm -rf "$cache/make-$suite"
    debootstrap --variant=minbase --include="$(IFS=,; echo "${tools[*]}")" "$suite" \
        "$cache/make-$suite" "$mirror" >"$cache/debootstrap-$suite.log" 2>&1 ||
        { tail -n 20 "$cache/debootstrap-$suite.log"; exit 1; }
    tar -C "$cache/make-$suite" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
    rm -rf "$cache/make-$suite"
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/ntsrch-bare-$suite-XXXXXX")
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

mkdir -p "$root/tmp/dist"
cp "$dist"/*.deb "$root/tmp/dist/"
chmod -R a+rX "$root/tmp/dist"
say "apt install ./dist/*.deb"
in_root sh -c 'cd /tmp && DEBIAN_FRONTEND=noninteractive apt install -y -o Dpkg::Use-Pty=0 ./dist/*.deb' \
    >"$root/tmp/apt.log" 2>&1 || { cat "$root/tmp/apt.log"; exit 1; }
# Exactly the three packages went in: nothing else was needed.
set_up=$(sed -n 's/^Setting up \([^:( ]*\).*/\1/p' "$root/tmp/apt.log" | sort | tr '\n' ' ')
want=$(printf '%s\n' "${packages[@]}" | sort | tr '\n' ' ')
[ "$set_up" = "$want" ] || { cat "$root/tmp/apt.log"; die "apt set up [$set_up], want [$want]"; }
in_root dpkg-query -W -f='${Package} ${Version} ${Status}\n' "${packages[@]}"

cp "$src/tests/consumer/consumer.c" "$src/samples/tracks.json" "$root/tmp/"
cat >"$root/tmp/dl.c" <<'EOF'
#include <dlfcn.h>
#include <stdio.h>
int main(void) {
    void *m = dlopen("nortavel-nortaveltune-search-client.so", RTLD_NOW);
    int (*selftest)(void);
    if (!m) { fprintf(stderr, "%s\n", dlerror()); return 1; }
    *(void **)&selftest = dlsym(m, "ntsrch_selftest");
    if (!selftest || selftest() != 0) return 1;
    puts("dlopen by bare name: selftest 0");
    return 0;
}
EOF

# name | command, run in the root from /tmp with no path set | extended regex its whole
# output must match. The consumer needs no run path: the loader finds the module by its
# SONAME in the system library directory, as it does for dlopen by bare file name.
v=${version//./\\.}
cases=(
    "tool_version|ntsrch version|^ntsrch $v \(ABI 1\)$"
    "tool_url|ntsrch url 'night skies' --base https://h|^https://h/search/api\?q=night%20skies&format=json$"
    "tool_filter|ntsrch filter --query aurora --sort newest tracks.json|^\[\{\"id\":4,[^]]*\},\{\"id\":1,[^]]*\}\]$"
    "tool_selftest|ntsrch selftest >/dev/null && echo ok|^ok$"
    "man_page|ls /usr/share/man/man1/ntsrch.1.gz|^/usr/share/man/man1/ntsrch\.1\.gz$"
    "consumer_build|cc -std=c99 -Wall -Wextra -Werror -o consumer consumer.c \$(pkg-config --cflags --libs ntsrch)|^$"
    "consumer_run|./consumer|^https://music\.example/search/api\?q=night%20skies&format=json$"
    "dlopen_build|cc -o dl dl.c -ldl|^$"
    "dlopen_run|./dl|^dlopen by bare name: selftest 0$"
)
failed=0
for c in "${cases[@]}"; do
    IFS='|' read -r name cmd want <<<"$c"
    if out=$(in_root sh -c "cd /tmp && $cmd" 2>&1) && [[ $out =~ $want ]]; then
        say "pass $name"
    else
        say "FAIL $name: \`$cmd\` printed:"
        printf '%s\n' "$out" | sed 's/^/    /'
        failed=1
    fi
done

# Purge: every path the packages listed is gone, but for folders other packages own too.
in_root dpkg -L "${packages[@]}" | grep -vxE '(/\.)?' | sort -u >"$root/tmp/listed"
in_root env DEBIAN_FRONTEND=noninteractive apt purge -y -o Dpkg::Use-Pty=0 "${packages[@]}" \
    >"$root/tmp/purge.log" 2>&1 || { cat "$root/tmp/purge.log"; exit 1; }
left=()
while IFS= read -r f; do
    [ -e "$root$f" ] || [ -L "$root$f" ] || continue
    [ -d "$root$f" ] && [ ! -L "$root$f" ] && in_root dpkg-query -S "$f" >/dev/null 2>&1 && continue
    left+=("$f")
done <"$root/tmp/listed"
if [ "${#left[@]}" -eq 0 ]; then
    say "pass purge ($(wc -l <"$root/tmp/listed") listed paths gone or shared folders)"
else
    say "FAIL purge left behind: ${left[*]}"
    failed=1
fi
[ "$failed" -eq 0 ] || exit 1
say "installed, used and purged on Debian $(cat "$root/etc/debian_version")"

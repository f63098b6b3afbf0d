#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The host tool's command line, one case per row: exit status, which stream speaks and what
# it says.
# Usage: cli_test.sh TOOL MODULE FAKE_MODULE NOT_A_MODULE VERSION SAMPLES_DIR
set -uo pipefail
tool=$1 module=$(realpath "$2") fake=$3 not_module=$4 version=$5 samples=$6
module_file=$(basename "$module")
tmp=$(mktemp -d "${TMPDIR:-/tmp}"/ntsrch-cli-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
unset NTSRCH_MODULE LD_LIBRARY_PATH
passed=0 failed=0

# expect NAME STATUS STREAM TEXT -- COMMAND...
#   STREAM out: every line of TEXT on stdout, stderr empty;
#          err: every line of TEXT on stderr, stdout empty;
#          full: stdout is /dev/full, every line of TEXT on stderr.
#   A line of TEXT that starts with ! must not appear.
#   Standard input is $in (default /dev/null).
expect() {
    local name=$1 status=$2 stream=$3 text=$4 rc=0 out=$tmp/out said quiet
    shift 5
    [ "$stream" = full ] && out=/dev/full
    "$@" <"${in:-/dev/null}" >"$out" 2>"$tmp/err" || rc=$?
    case $stream in
    out) said=$tmp/out quiet=$tmp/err ;;
    err) said=$tmp/err quiet=$tmp/out ;;
    full) said=$tmp/err quiet=/dev/null ;;
    esac
    local why=""
    [ "$rc" = "$status" ] || why="exit status $rc, expected $status"
    [ -z "$why" ] && [ -s "$quiet" ] && why="unexpected output on the other stream"
    while [ -z "$why" ] && IFS= read -r line; do
        if [ "${line#!}" != "$line" ]; then
            ! grep -qF -- "${line#!}" "$said" || why="unwanted '${line#!}'"
        else
            grep -qF -- "$line" "$said" || why="no '$line'"
        fi
    done <<<"$text"
    if [ -z "$why" ]; then
        echo "pass $name"
        passed=$((passed + 1))
    else
        echo "FAIL $name: $why"
        echo "  command: $*"
        sed 's/^/  stdout: /' "$tmp/out" 2>/dev/null | head -n 20
        sed 's/^/  stderr: /' "$tmp/err" | head -n 20
        failed=$((failed + 1))
    fi
}

usage_hint="Try 'ntsrch --help' for more information."
t=$tool

# Help and versions.
expect help-long 0 out $'usage: ntsrch [OPTIONS] COMMAND [ARGS]\nExit status:' -- "$t" --help
expect help-short 0 out 'usage: ntsrch' -- "$t" -h
expect help-after-command 0 out 'usage: ntsrch' -- "$t" url x --help
expect version-option 0 out $"ntsrch tool $version (ABI 1)
module $version (ABI 1) $module" -- "$t" --version
expect version-option-module 0 out 'module 0.0.0-fake (ABI 1)' -- "$t" --version --module "$fake"
expect version-command 0 out "ntsrch $version (ABI 1)" -- "$t" version

# Usage errors say what was wrong.
expect no-command 2 err $'ntsrch: missing command\n'"$usage_hint" -- "$t"
expect unknown-option 2 err "ntsrch: unknown option '--bogus'" -- "$t" --bogus url x
expect unknown-option-after-command 2 err "unknown option '--bogus'" -- "$t" url --bogus
expect unknown-short-option 2 err "unknown option '-x'" -- "$t" url -x q
expect missing-option-value 2 err "option '--base' needs an argument" -- "$t" url x --base
expect missing-sort-value 2 err "option '--sort' needs an argument" -- "$t" filter f --sort
expect missing-query 2 err "'url' needs QUERY" -- "$t" url
expect missing-file 2 err "'normalize' needs FILE" -- "$t" normalize
expect extra-argument 2 err "unexpected argument 'b'" -- "$t" url a b
expect extra-argument-version 2 err "unexpected argument 'now'" -- "$t" version now
expect bad-sort 2 err "unknown sort order 'bogus'" -- "$t" filter "$samples/tracks.json" --sort bogus
expect bad-sort-equals 2 err "unknown sort order 'Title'" -- "$t" filter x --sort=Title
expect option-of-other-command 2 err "option '--sort' does not apply to 'url'" -- "$t" url x --sort title
expect option-of-other-command-2 2 err "option '--base' does not apply to 'filter'" -- "$t" --base h filter f
expect unknown-command 2 err "unknown command 'frob'" -- "$t" frob
expect flag-with-value 2 err "option '--downloaded-only' takes no argument" -- "$t" filter f --downloaded-only=yes
expect two-stdin-inputs 2 err 'only one input can come from standard input' -- "$t" filter - --downloaded -

# Options before or after the command; -- ends them.
expect options-before-command 0 out 'https://h.example/search/api?q=a%20b&format=json' -- "$t" --base=https://h.example/ url "a b"
expect options-after-operand 0 out 'https://h.example/search/api?q=a&format=json' -- "$t" url a --base https://h.example
expect double-dash 0 out '/search/api?q=--bogus&format=json' -- "$t" url -- --bogus
expect double-dash-first 0 out '/search/api?q=x&format=json' -- "$t" -- url x
expect dash-value-of-option 0 out 'https://h/search/api?q=-&format=json' -- "$t" url --base https://h -
expect module-after-command 1 err 'ntsrch: out of memory' -- "$t" url x --module "$fake"
expect module-equals 1 err 'ntsrch: out of memory' -- "$t" --module="$fake" url x

# Commands at work.
expect filter-sorted 0 out '"title":"Skyline"' -- "$t" filter "$samples/tracks.json" --query SKY --sort=title
in=$samples/tracks.json expect filter-stdin 0 out '"title":"Skyline"' -- "$t" filter - --query sky
expect filter-downloaded-only 0 out '"streamURL":"https://cdn.example/t/6.mp3"' -- \
    "$t" filter "$samples/tracks.json" --downloaded "$samples/downloaded.json" --downloaded-only
expect normalize 0 out '{"localCount":2,"catalogueCount":2,' -- "$t" normalize "$samples/unified.json"
expect selftest 0 out 'selftest passed' -- "$t" selftest

# Input the module refuses names its file ("-" for standard input); files, out of memory,
# output that cannot be written.
printf '[{"title":"a"}' >"$tmp/truncated.json"
: >"$tmp/empty.json"
printf '{"tracks":[1]' >"$tmp/truncated-unified.json"
expect refused-query 1 err 'ntsrch: empty query' -- "$t" url "   "
expect refused-tracks-stdin 1 err 'ntsrch: -: tracks_json must be array' -- "$t" filter -
expect refused-unified-stdin 1 err 'ntsrch: -: invalid search json' -- "$t" normalize -
expect refused-tracks-truncated 1 err "ntsrch: $tmp/truncated.json: tracks_json must be array" -- \
    "$t" filter "$tmp/truncated.json"
expect refused-tracks-empty 1 err "ntsrch: $tmp/empty.json: tracks_json must be array" -- \
    "$t" filter "$tmp/empty.json" --downloaded "$samples/downloaded.json"
expect refused-tracks-not-array 1 err "ntsrch: $samples/unified.json: tracks_json must be array" -- \
    "$t" filter "$samples/unified.json"
expect refused-unified-truncated 1 err "ntsrch: $tmp/truncated-unified.json: invalid search json" -- \
    "$t" normalize "$tmp/truncated-unified.json"

# A NUL byte would end the text the module reads: every file input refuses it, with its offset.
printf '[{"title":"a"}]\0garbage' >"$tmp/nul-tracks.json"
printf '\0[]' >"$tmp/nul-first.json"
printf '["u1",\0"u2"]' >"$tmp/nul-downloaded.json"
printf '{"tracks":[]}\0' >"$tmp/nul-unified.json"
expect nul-in-tracks 1 err "ntsrch: $tmp/nul-tracks.json: embedded NUL at byte 15" -- "$t" filter "$tmp/nul-tracks.json"
expect nul-first-byte 1 err "ntsrch: $tmp/nul-first.json: embedded NUL at byte 0" -- "$t" filter "$tmp/nul-first.json"
in=$tmp/nul-tracks.json expect nul-in-tracks-stdin 1 err 'ntsrch: -: embedded NUL at byte 15' -- "$t" filter -
expect nul-in-downloaded 1 err "ntsrch: $tmp/nul-downloaded.json: embedded NUL at byte 6" -- \
    "$t" filter "$samples/tracks.json" --downloaded "$tmp/nul-downloaded.json"
in=$tmp/nul-downloaded.json expect nul-in-downloaded-stdin 1 err 'ntsrch: -: embedded NUL at byte 6' -- \
    "$t" filter "$samples/tracks.json" --downloaded=- --downloaded-only
expect nul-in-unified 1 err "ntsrch: $tmp/nul-unified.json: embedded NUL at byte 13" -- "$t" normalize "$tmp/nul-unified.json"
in=$tmp/nul-unified.json expect nul-in-unified-stdin 1 err 'ntsrch: -: embedded NUL at byte 13' -- "$t" normalize -
expect unreadable-file 1 err "ntsrch: cannot open $tmp/none.json" -- "$t" filter "$tmp/none.json"
expect directory-as-file 1 err "ntsrch: cannot read $tmp" -- "$t" normalize "$tmp"
expect out-of-memory 1 err 'ntsrch: out of memory' -- "$t" --module "$fake" filter "$samples/tracks.json"
expect selftest-failure 1 err 'ntsrch: selftest failed: title ordering' -- "$t" --module "$fake" selftest
# A write error carries its reason whatever the size: larger than stdio's buffer, the
# write fails at once rather than at the final flush.
full_reason='ntsrch: cannot write the output: No space left on device'
awk 'BEGIN { printf "["; for (i = 0; i < 20000; i++) printf "%s{\"title\":\"t%d\"}", (i ? "," : ""), i; print "]" }' \
    >"$tmp/large.json"
expect stdout-full 1 full "$full_reason" -- "$t" url x
expect help-to-full-stdout 1 full "$full_reason" -- "$t" --help
expect version-to-full-stdout 1 full "$full_reason" -- "$t" --version
expect large-result-to-full-stdout 1 full "$full_reason" -- "$t" filter "$tmp/large.json"
expect normalize-to-full-stdout 1 full "$full_reason" -- "$t" normalize "$samples/unified.json"
expect selftest-to-full-stdout 1 full "$full_reason" -- "$t" selftest

# Finding the module: explicit choices, ABI check, every place tried.
expect module-missing 2 err $'ntsrch: cannot load the module; tried:\n'"  --module, $tmp/none.so: " -- \
    "$t" --module "$tmp/none.so" url x
expect env-module-missing 2 err "  \$NTSRCH_MODULE, $tmp/none.so: " -- env NTSRCH_MODULE="$tmp/none.so" "$t" url x
expect env-module-used 1 err 'ntsrch: out of memory' -- env NTSRCH_MODULE="$fake" "$t" url x
expect module-option-beats-env 0 out '/search/api?q=x&format=json' -- env NTSRCH_MODULE="$fake" "$t" --module "$module" url x
expect not-a-module 2 err "--module, $not_module: does not export ntsrch_version" -- "$t" --module "$not_module" url x
# A name without a folder part is looked up on the library path, never in the current folder
# (a name no system has, so the lookup cannot succeed there).
mkdir "$tmp/here"
copy=ntsrch-cli-copy-of-the-module.so
cp "$module" "$tmp/here/$copy"
expect bare-module-name 2 err "ntsrch: '$copy' has no folder part, so it is looked up on the system library search path (dlopen's search), not in the current folder; use ./$copy to load the file in the current folder" -- \
    env -C "$tmp/here" "$t" --module "$copy" url x
expect bare-env-module-name 2 err "use ./$copy to load the file in the current folder" -- \
    env -C "$tmp/here" NTSRCH_MODULE="$copy" "$t" url x
expect dot-slash-module-name 0 out "module $version (ABI 1) ./$copy" -- \
    env -C "$tmp/here" "$t" --module "./$copy" --version
expect path-module-not-explained 2 err "  --module, $tmp/none.so: 
!has no folder part" -- "$t" --module "$tmp/none.so" url x
# A module cut short is refused before the loader maps it (which would end in SIGBUS).
size=$(stat -c %s "$module")
for n in 100 1000 5000 200000; do
    [ "$n" -lt "$size" ] || continue
    head -c "$n" "$module" >"$tmp/cut-$n.so"
    expect "truncated-module-$n" 2 err "  --module, $tmp/cut-$n.so: truncated: $n bytes, headers need " -- \
        "$t" --module "$tmp/cut-$n.so" url x
done
expect truncated-env-module 2 err "  \$NTSRCH_MODULE, $tmp/cut-1000.so: truncated: 1000 bytes, headers need " -- \
    env NTSRCH_MODULE="$tmp/cut-1000.so" "$t" url x
expect abi-mismatch 2 err "--module, $fake: module ABI 2, this tool needs ABI 1" -- env NTSRCH_FAKE_ABI=2 "$t" --module "$fake" url x

# A module beside the tool that cannot load is reported along with every later place.
mkdir "$tmp/bin"
cp "$tool" "$tmp/bin/ntsrch"
: >"$tmp/bin/$module_file"
if ldconfig -p 2>/dev/null | grep -F "$module_file" >/dev/null; then # all read: no SIGPIPE
    echo "skip every-place-listed: $module_file is installed on the system, so the last place works"
else
    expect every-place-listed 2 err "  beside the tool, $tmp/bin/$module_file: 
  installed library directory, $tmp/bin/../
  system library search path, $module_file: " -- "$tmp/bin/ntsrch" url x
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# ./vantel run on a machine that lacks every package and has no build yet: whatever installing and
# building print goes to standard error, and standard output is the host's JSON lines alone, so
# that it pipes into jq.
#   vantel_script_test.sh SOURCE_DIR HOST
set -euo pipefail
source_dir=$1
host=$2
command -v jq >/dev/null || { echo "jq is not installed (./vantel test installs it)"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/project/examples" "$work/project/build/linux-release/agent/bin" "$work/stubs"
cp "$source_dir/vantel" "$work/project/"
cp "$source_dir/examples/demo.json" "$work/project/examples/"
# The built host finds its module beside its real path.
ln -s "$host" "$work/project/build/linux-release/agent/bin/qorexthost"

# Package and build tools that report nothing installed and chatter on standard output as the
# real ones do.
stub() {
    printf '#!/bin/sh\n%s\n' "$2" >"$work/stubs/$1"
    chmod +x "$work/stubs/$1"
}
stub dpkg-query 'exit 1'
stub dpkg 'echo i386'
stub apt-get 'echo "stub apt-get $*: Setting up package"'
stub cmake 'echo "stub cmake $*: [1/2] Building CXX object"'
stub sudo 'exec "$@"'

PATH="$work/stubs:$PATH" "$work/project/vantel" run >"$work/out" 2>"$work/err"

grep -q 'stub apt-get' "$work/err" || { echo "installing printed nothing on standard error"; exit 1; }
grep -q 'stub cmake --build' "$work/err" || { echo "building printed nothing on standard error"; exit 1; }
lines=$(wc -l <"$work/out")
objects=$(jq -c 'select(type == "object")' "$work/out" | wc -l) || { echo "standard output is not JSON:"; head -5 "$work/out"; exit 1; }
[ "$lines" -gt 0 ] && [ "$objects" -eq "$lines" ] || { echo "$lines lines, $objects JSON objects:"; head -5 "$work/out"; exit 1; }
jq -c 'select(.type == "event")' "$work/out" | grep -q '"name":"UserLogon"' || { echo "no UserLogon event"; exit 1; }
echo "./vantel run: $lines JSON lines on standard output"

#!/bin/sh
# Peak resident memory of qorexthost --evtx over 1, 50 and all recordings and over all of them ten
# times, beside the largest single file: a replay's memory should not grow with what it reads.
# Usage: bench/replay_rss.sh [BUILD_DIR] [EVTX_DIR]   (defaults: build/linux-release, ../shared/data/evtx)
set -eu
build=${1:-build/linux-release}
corpus=${2:-${VANTEL_EVTX_DIR:-../shared/data/evtx}}
host="$build/agent/bin/qorexthost"
files=$(mktemp)
trap 'rm -f "$files"' EXIT
find "$corpus" -name '*.evtx' -type f | LC_ALL=C sort >"$files"

peak() {  # the arguments after --evtx; prints the peak in KiB
    /usr/bin/time -f '%M' "$host" --evtx "$@" 2>&1 >/dev/null | tail -n 1
}

largest=$(tr '\n' '\0' <"$files" | xargs -0 stat -c '%s' | sort -n | tail -n 1)
largestFile=$(tr '\n' '\0' <"$files" | xargs -0 stat -c '%s %n' | sort -n | tail -n 1 | cut -d' ' -f2-)
echo "largest file: $((largest / 1024)) KiB"
echo "1 file (the largest): $(peak "$largestFile") KiB peak"
set --
while IFS= read -r file; do
    [ $# -lt 50 ] && set -- "$@" "$file"
done <"$files"
echo "50 files: $(peak "$@") KiB peak"
echo "$(wc -l <"$files") files: $(peak "$corpus") KiB peak"
echo "all files ten times: $(peak "$corpus" "$corpus" "$corpus" "$corpus" "$corpus" "$corpus" "$corpus" "$corpus" "$corpus" "$corpus") KiB peak"

#!/usr/bin/env bash
# Runs every libFuzzer target of a build for a bounded time, starting from its
# committed corpus (new inputs go to a scratch directory, not the tree).
# Fails on the first finding, printing the end of that target's log.
#   tests/fuzz/run.sh [build dir (build-clang)] [seconds per target (8)]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-build-clang}"
seconds="${2:-8}"
bin="$build/tests/fuzz"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# One target per corpus directory.
targets=$(cd "$here/corpus" && ls)
status=0
for t in $targets; do
    exe="$bin/kestrin_fuzz_$t"
    if [ ! -x "$exe" ]; then
        echo "fuzz $t: $exe is not built" >&2
        status=1
        continue
    fi
    mkdir -p "$work/$t"
    # The library reports unparsable input on stderr, so the log is kept
    # apart and shown only on a finding.
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=4096 \
            -artifact_prefix="$work/$t-" "$work/$t" "$here/corpus/$t" >"$work/$t.log" 2>&1; then
        echo "fuzz $t: $(grep -E '^Done [0-9]+ runs' "$work/$t.log" || echo done)"
    else
        echo "fuzz $t: FINDING" >&2
        tail -n 40 "$work/$t.log" >&2
        for a in "$work/$t"-*; do
            [ -f "$a" ] && { echo "input ($a):" >&2; od -c "$a" | head -20 >&2; }
        done
        status=1
    fi
done
exit $status

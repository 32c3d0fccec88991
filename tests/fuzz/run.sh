#!/usr/bin/env bash
# Runs every libFuzzer target of a build for a bounded time, starting from its
# committed corpus (new inputs go to a scratch directory, not the tree), as
# many at a time as asked (two by default: one per core of the CI machine).
# Fails if any target finds something, printing the end of its log.
#   tests/fuzz/run.sh [build dir (build-clang)] [seconds per target (8)] [targets at a time (2)]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-build-clang}"
seconds="${2:-8}"
jobs="${3:-2}"
bin="$build/tests/fuzz"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# One target: its summary line on standard output, or FINDING with the end
# of its log and the input on standard error; the status tells which.
fuzz_one() {
    local t="$1" exe="$bin/kestrin_fuzz_$1"
    if [ ! -x "$exe" ]; then
        echo "fuzz $t: $exe is not built" >&2
        return 1
    fi
    mkdir -p "$work/$t"
    # The library reports unparsable input on stderr, so the log is kept
    # apart and shown only on a finding.
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=4096 \
            -artifact_prefix="$work/$t-" "$work/$t" "$here/corpus/$t" >"$work/$t.log" 2>&1; then
        echo "fuzz $t: $(grep -E '^Done [0-9]+ runs' "$work/$t.log" || echo done)"
    else
        {
            echo "fuzz $t: FINDING"
            tail -n 40 "$work/$t.log"
            for a in "$work/$t"-*; do
                [ -f "$a" ] && { echo "input ($a):"; od -c "$a" | head -20; }
            done
        } >&2
        return 1
    fi
}

# One target per corpus directory. Each runs in the background with its
# output kept apart, and is reported in order once all have ended, so the
# logs of two targets never interleave.
targets=$(cd "$here/corpus" && ls)
for t in $targets; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    ( rc=0; fuzz_one "$t" >"$work/$t.out" 2>"$work/$t.err" || rc=$?; echo "$rc" >"$work/$t.rc" ) &
done
wait
status=0
for t in $targets; do
    cat "$work/$t.out"
    cat "$work/$t.err" >&2
    [ "$(cat "$work/$t.rc")" = 0 ] || status=1
done
exit $status

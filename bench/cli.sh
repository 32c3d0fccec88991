#!/usr/bin/env bash
# Times the tool against `base64 -w 76` on the same random file, from a named
# file and through standard input, in one run; prints the time ratios and the
# tool's peak memory against its budget (2.5 x input + 16 MiB).
# Usage: bash bench/cli.sh [size-in-MiB] [path-to-kestrin]
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-256}
bin=${2:-build/kestrin}
runs=${RUNS:-3}
[ -x "$bin" ] || { echo "build the tool first: cmake --build --preset default" >&2; exit 1; }

work=$(mktemp -d /tmp/kestrin_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
file=$work/input
head -c "$((mib << 20))" /dev/urandom > "$file"
cat "$file" > /dev/null  # into the page cache

# best_of CMD...: prints "seconds peak-KiB" of the fastest of $runs runs.
best_of() {
    local best="" line
    for _ in $(seq "$runs"); do
        line=$(/usr/bin/time -f '%e %M' bash -c "$1" 2>&1 >/dev/null | tail -n 1)
        if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
            best=$line
        fi
    done
    echo "$best"
}

report() {  # label kestrin-result base64-result
    local kt=${2%% *} km=${2##* } bt=${3%% *}
    awk -v label="$1" -v kt="$kt" -v km="$km" -v bt="$bt" -v mib="$mib" 'BEGIN {
        budget = (2.5 * mib + 16) * 1024
        printf "%-14s kestrin %6.3f s   base64 -w 76 %6.3f s   ratio %.2f (target <= 0.50)   peak %.0f MiB (budget %.0f MiB)\n",
               label, kt, bt, (bt > 0 ? kt / bt : 0), km / 1024, budget / 1024
    }'
}

echo "input: $mib MiB of random bytes, best of $runs runs"
report "file (-i)" "$(best_of "$bin -B -a photo -i $file")" "$(best_of "base64 -w 76 $file")"
report "stdin" "$(best_of "$bin -B -a photo < $file")" "$(best_of "base64 -w 76 < $file")"
report "pipe" "$(best_of "cat $file | $bin -B -a photo")" "$(best_of "cat $file | base64 -w 76")"

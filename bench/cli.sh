#!/usr/bin/env bash
# Times the tool against coreutils `base64` on the same large files in one run
# and prints each time ratio against its target, the spread of the runs
# (slowest / fastest) and the tool's peak resident memory against its budget.
# Usage: bash bench/cli.sh [size-in-MiB] [path-to-kestrin]
# RUNS (default 5) runs per command; the figures are their medians.
# SPLIT_VALUES (default 1000): values of 1 MiB for the memory of --split.
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-256}
bin=$(realpath "${2:-build/kestrin}")
runs=${RUNS:-5}
budget_kib=$((16 * 1024))
[ -x "$bin" ] || { echo "build the tool first: cmake --build --preset default" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)" >&2; exit 1; }

work=$(mktemp -d /tmp/kestrin_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
file=$work/random
head -c "$((mib << 20))" /dev/urandom > "$file"
base64 -w 76 "$file" > "$file.b64"  # 76-character lines
text=$work/text                          # printable, no line break
head -c "$((mib << 20))" < <(base64 -w 0 "$file") > "$text"
utf8=$work/utf8                          # UTF-8 text, one character in three multi-byte
python3 - "$utf8" "$((mib << 20))" <<'PY'
import random, sys
path, size = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
ascii_chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,-"
wide = [chr(c) for c in (0xE9, 0xF6, 0x3BB, 0x436, 0x65E5, 0x8A9E, 0x20AC, 0x1F600, 0x10348)]
block = "".join(rng.choice(wide) if i % 3 == 2 else rng.choice(ascii_chars) for i in range(1 << 19)).encode()
with open(path, "wb") as f:
    f.write(b"x")  # no leading space
    left = size - 1
    while left > 0:
        piece = block[:left]
        while piece and (piece[-1] & 0xC0) == 0x80 or piece and piece[-1] >= 0xC0:
            piece = piece[:-1]  # end on a whole character
        f.write(piece)
        left -= len(piece)
        if len(piece) == 0:
            f.write(b"x" * left)
            left = 0
PY
# entries.py OUT COUNT SIZE SOURCE: COUNT entries of one jpegPhoto value of
# SIZE bytes each, folded as the tool folds, the values SOURCE's bytes in
# turn (from its start again where it ends).
cat > "$work/entries.py" <<'PY'
import base64, sys
out, count, size, source = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), open(sys.argv[4], "rb").read()
with open(out, "wb") as f:
    for n in range(count):
        at = n * size % len(source)
        value = source[at:at + size]
        value += source[:size - len(value)]
        line = b"jpegPhoto:: " + base64.b64encode(value)
        f.write(b"dn: cn=photo%d,dc=example\n" % n + line[:77] + b"\n")
        f.write(b"".join(b" " + line[i:i + 76] + b"\n" for i in range(77, len(line), 76)) + b"\n")
PY
values=$work/values.ldif                 # values of printable text (no LF), 1 MiB less a byte each, an entry each
python3 "$work/entries.py" "$values" "$mib" $(((1 << 20) - 1)) "$text"
head -c "$((mib * ((1 << 20) - 1)))" "$text" | base64 -w 0 > "$values.flat"  # the same base64 text unfolded
many=$work/many.ldif                     # SPLIT_VALUES (default 1,000) values of 1 MiB
python3 "$work/entries.py" "$many" "${SPLIT_VALUES:-1000}" $((1 << 20)) "$file"
mkdir "$work/split"
folded=$work/folded.ldif                 # the value as the tool writes it, folded
"$bin" -a photo -i "$file" > "$folded"
base64 -w 0 "$file" > "$file.flat"       # the same base64 text unfolded
cat "$file" "$file.b64" "$text" "$utf8" "$folded" "$file.flat" "$values" "$values.flat" > /dev/null  # into the page cache
sync  # the new files written back now, not while a spooling row runs

# median_of CMD: runs CMD (shell words, output discarded) $runs times and
# prints "median-seconds spread".
median_of() {
    local times=() start end
    eval "$1" > /dev/null  # one run untimed: caches warm, spool pages allocated once
    for _ in $(seq "$runs"); do
        start=$EPOCHREALTIME
        eval "$1" > /dev/null
        end=$EPOCHREALTIME
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{ t[NR] = $1 } END {
        printf "%.6f %.2f\n", (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2), t[NR] / t[1] }'
}

# repeat N CMD: CMD run N times in a row (for start-up times).
repeat() {
    local n=$1 i
    for ((i = 0; i < n; i++)); do eval "$2" > /dev/null; done
}

failed=0
row() {  # label target kestrin-command peer-command
    local k p
    k=$(median_of "$3")
    p=$(median_of "$4")
    if ! awk -v label="$1" -v target="$2" -v k="$k" -v p="$p" 'BEGIN {
        split(k, a, " "); split(p, b, " ")
        ratio = a[1] / b[1]
        # The spread target is for the tool; a peer that spreads as much
        # says the machine was too busy for this row to tell.
        ok = ratio <= target && a[2] <= 1.5
        printf "%-24s %8.3f s %8.3f s  %5.2f  <= %.2f  %5.2f %5.2f  %s%s\n",
               label, a[1], b[1], ratio, target, a[2], b[2], ok ? "ok" : "MISSED",
               (b[2] > 1.5 ? " (busy machine: the peer spread too)" : "")
        exit !ok
    }'; then failed=1; fi
}

echo "input: $mib MiB; medians of $runs runs; spread = slowest / fastest (the tool's target <= 1.50)"
printf '%-24s %10s %10s  %5s  %7s  %11s\n' "" "kestrin" "peer" "ratio" "target" "spread k p"
row "-B -i FILE" 0.5 "$bin -B -a photo -i $file" "base64 -w 76 $file"
row "-B < FILE" 0.5 "$bin -B -a photo < $file" "base64 -w 76 $file"
row "cat FILE | -B" 1.0 "cat $file | $bin -B -a photo" "cat $file | base64 -w 76"
row "-b -i FILE.b64" 0.5 "$bin -b -a photo -i $file.b64" "base64 -d $file.b64"
row "auto, text" 0.5 "$bin -a photo -i $text" "base64 -w 76 $text"
row "-w 0 -B -i FILE" 0.5 "$bin -w 0 -B -a photo -i $file" "base64 -w 76 $file"
row "-u, UTF-8 text" 0.5 "$bin -u -a cn -i $utf8" "base64 -w 76 $utf8"
row "-d -i FILE" 0.5 "$bin -d -a photo -i $folded" "base64 -d $file.flat"
row "-d < FILE" 0.5 "$bin -d -a photo < $folded" "base64 -d < $file.flat"
row "cat FILE | -d" 0.5 "cat $folded | $bin -d -a photo" "cat $file.flat | base64 -d"
# Every value of an entry each: on a line of its own, and into files of
# their own (the files of the last run replaced; the peer writes its output
# into a file too).
row "-d --all -i FILE" 0.5 "$bin -d -a jpegPhoto --all -i $values" "base64 -d $values.flat"
row "-d --split -i FILE" 0.5 "$bin -d -a jpegPhoto --split $work/split/v -i $values" \
    "base64 -d $values.flat > $work/peer.out"
row "start-up (30 runs)" 1.2 "repeat 30 '$bin -a cn -s hello'" "repeat 30 'base64 /etc/hostname'"

# The tool's own peak resident memory in KiB, for a command line in which
# TOOL stands for the tool.
peak() {
    local measured="/usr/bin/time -f %M -o $work/peak $bin"
    eval "${1//TOOL/$measured}" > /dev/null
    tail -n 1 "$work/peak"
}
mkfifo "$work/fifo"
cases=(
    "-B -i FILE#TOOL -B -a photo -i $file"
    "automatic, -i FILE#TOOL -a photo -i $file"
    "-G < FILE#TOOL -G -a photo < $file"
    "-B, pipe#cat $file | TOOL -B -a photo"
    "automatic, pipe#cat $file | TOOL -a photo"
    "-i FIFO#{ cat $file > $work/fifo & } ; TOOL -a photo -i $work/fifo"
    "-b -i FILE.b64#TOOL -b -a photo -i $file.b64"
    "-b, pipe#cat $file.b64 | TOOL -b -a photo"
    "automatic, text#TOOL -a photo -i $text"
    "-w 0 -B -i FILE#TOOL -w 0 -B -a photo -i $file"
    "-u, UTF-8 text#TOOL -u -a cn -i $utf8"
    "-u, UTF-8 pipe#cat $utf8 | TOOL -u -a cn"
    "-d -i FILE#TOOL -d -a photo -i $folded"
    "-d < FILE#TOOL -d -a photo < $folded"
    "cat FILE | -d#cat $folded | TOOL -d -a photo"
    "-d --all -i FILE#TOOL -d -a jpegPhoto --all -i $values"
    "cat FILE | -d --all#cat $values | TOOL -d -a jpegPhoto --all"
    "--split, ${SPLIT_VALUES:-1000} x 1 MiB#TOOL -d -a jpegPhoto --split $work/split/m -i $many"
)
echo
echo "peak resident memory of the tool (budget $((budget_kib / 1024)) MiB):"
for c in "${cases[@]}"; do
    kib=$(peak "${c#*#}")
    ok=ok
    [ "$kib" -le "$budget_kib" ] || { ok=MISSED; failed=1; }
    printf '  %-24s %6.1f MiB  %s\n' "${c%%#*}" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" "$ok"
done
exit "$failed"

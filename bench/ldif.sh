#!/usr/bin/env bash
# Reads one generated LDIF file of 100,000 entries (about 70 MB: folded lines,
# base64 values, multi-valued attributes, a few 1 MB photos) with
# ldif_file2ekva_set, streamed entry by entry (ldif_read_entry, ldif2ekva,
# ekva_free), with the streaming reader (ldif_reader_*), with OpenLDAP's C
# reader and with python-ldap's LDIFParser, in one run; then the same export
# as "changetype: add" records and as modify records of three modifications
# each with the record reader (ldif_record_reader_*), with OpenLDAP's reader
# and with kestrin -c; prints the ratios, the readers' MB/s and the peak
# memory.
# Usage: bash bench/ldif.sh [ENTRIES]   (build first: cmake --build --preset default)
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-100000}
repeat=${REPEAT:-5}
bin=${BENCH_BIN:-build/bench}
file=/tmp/kestrin_ldif_bench_${entries}.ldif
[ -f "$file" ] || "$bin/kestrin_ldif_gen" "$file" "$entries"
size=$(stat -c %s "$file")
cat "$file" > /dev/null

read -r k_first k_best k_n < <("$bin/kestrin_ldif_load" "$file" "$repeat")
peak=$( { /usr/bin/time -f '%M' "$bin/kestrin_ldif_load" "$file" 1 >/dev/null; } 2>&1 | tail -n 1)
read -r t_first t_best t_n < <(GLIBC_TUNABLES=glibc.malloc.hugetlb=1 "$bin/kestrin_ldif_load" "$file" 1)
echo "file: $file, $size bytes, $k_n entries"
echo "ldif_file2ekva_set: first load in a fresh process ${k_first}s, best of $repeat loads ${k_best}s" \
     "(first load with huge pages for malloc: ${t_first}s)"
echo "   (a fresh process pays a page fault per 4 KiB of the records; later loads reuse the memory)"
awk -v kb="$peak" -v size="$size" 'BEGIN { printf "peak memory: %.0f MiB = %.2f x the file (target <= 4)\n", kb / 1024, kb * 1024 / size }'

if [ -x "$bin/kestrin_ldif_load_openldap" ]; then
    read -r o_first o_best o_n < <("$bin/kestrin_ldif_load_openldap" "$file" "$repeat")
    awk -v k="$k_best" -v o="$o_best" -v kf="$k_first" -v of="$o_first" 'BEGIN {
        printf "OpenLDAP ldif_read_record + ldif_parse_line2: best %.4fs -> ldif_file2ekva_set speed ratio %.2f (target >= 1)\n", o, o / k
        printf "   first passes only: %.4fs vs %.4fs -> %.2f\n", of, kf, of / kf }'
    # Streaming against the peer, each as a whole process (one pass, start to
    # exit), alternating; the best wall time and the best CPU time (user +
    # system) of each, since a loaded machine stretches wall times. Bash's
    # clock gives milliseconds (GNU time only hundredths, 6 % of a run here);
    # GNU time gives the peak memory.
    rss=$(mktemp)
    run() {  # prints "wall cpu peak-KiB" of one run of "$@"
        local TIMEFORMAT='%3R %3U %3S' t w u s
        t=$( { time /usr/bin/time -o "$rss" -f '%M' "$@" >/dev/null 2>&1; } 2>&1 )
        read -r w u s <<<"$t"
        echo "$w $(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') $(tail -n 1 "$rss")"
    }
    s_wall=1e9 s_cpu=1e9 s_peak=0 p_wall=1e9 p_cpu=1e9
    for _ in $(seq "${STREAM_REPEAT:-11}"); do
        read -r w c m < <(run "$bin/kestrin_ldif_stream" "$file")
        s_wall=$(awk -v a="$s_wall" -v b="$w" 'BEGIN { print (b < a ? b : a) }')
        s_cpu=$(awk -v a="$s_cpu" -v b="$c" 'BEGIN { print (b < a ? b : a) }')
        s_peak=$(awk -v a="$s_peak" -v b="$m" 'BEGIN { print (b > a ? b : a) }')
        read -r w c m < <(run "$bin/kestrin_ldif_load_openldap" "$file" 1)
        p_wall=$(awk -v a="$p_wall" -v b="$w" 'BEGIN { print (b < a ? b : a) }')
        p_cpu=$(awk -v a="$p_cpu" -v b="$c" 'BEGIN { print (b < a ? b : a) }')
    done
    awk -v sw="$s_wall" -v sc="$s_cpu" -v pw="$p_wall" -v pc="$p_cpu" -v m="$s_peak" 'BEGIN {
        printf "streaming (ldif_read_entry, ldif2ekva, ekva_free), whole process: best %.3fs wall, %.3fs CPU;" \
               " OpenLDAP %.3fs wall, %.3fs CPU\n", sw, sc, pw, pc
        printf "   -> streaming speed ratio %.2f by wall time, %.2f by CPU time (target >= 1), peak memory %.1f MiB (target <= 8)\n",
               pw / sw, pc / sc, m / 1024 }'
    # The streaming reader (every value of every entry visited, the file read
    # in pieces of 1 MiB) against the same peer, best of REPEAT passes each,
    # alternating, in this run.
    r_best=1e9 o_best2=1e9 m_best=1e9
    for _ in $(seq "$repeat"); do
        read -r _ b _ bytes _ < <("$bin/kestrin_ldif_reader" "$file" 1)
        r_best=$(awk -v a="$r_best" -v b="$b" 'BEGIN { print (b < a ? b : a) }')
        read -r _ b _ _ _ < <("$bin/kestrin_ldif_reader" "$file" 1 map)
        m_best=$(awk -v a="$m_best" -v b="$b" 'BEGIN { print (b < a ? b : a) }')
        read -r _ b _ < <("$bin/kestrin_ldif_load_openldap" "$file" 1)
        o_best2=$(awk -v a="$o_best2" -v b="$b" 'BEGIN { print (b < a ? b : a) }')
    done
    r_peak=$( { /usr/bin/time -f '%M' "$bin/kestrin_ldif_reader" "$file" 1 >/dev/null; } 2>&1 | tail -n 1)
    m_peak=$( { /usr/bin/time -f '%M' "$bin/kestrin_ldif_reader" "$file" 1 map >/dev/null; } 2>&1 | tail -n 1)
    awk -v r="$r_best" -v o="$o_best2" -v size="$size" -v m="$r_peak" -v bytes="$bytes" -v mb="$m_best" \
        -v mm="$m_peak" 'BEGIN {
        printf "streaming reader (ldif_reader_next over every item, %d value bytes), read() in 1 MiB pieces:" \
               " best %.4fs = %.0f MB/s; OpenLDAP best %.4fs\n", bytes, r, size / r / 1e6, o
        printf "   -> reader speed ratio %.2f (target >= 3), peak memory %.1f MiB (target <= 8)\n", o / r, m / 1024
        printf "   the file mapped 4 MiB at a time instead: best %.4fs = %.0f MB/s, ratio %.2f, peak memory %.1f MiB\n",
               mb, size / mb / 1e6, o / mb, mm / 1024 }'
    # Change records: the record reader (bench/ldif_reader.c with "records",
    # every item pulled, the file read in pieces of 1 MiB) against the peer's loop over
    # the same file, best of REPEAT alternating passes; then kestrin -c
    # against the record reader alone, each as a whole process, best wall
    # time of STREAM_REPEAT alternating runs, and their peak memory.
    kestrin=${KESTRIN:-$(dirname "$bin")/kestrin}
    for form in add modify; do
        cf=${file%.ldif}_$form.ldif
        [ -f "$cf" ] || "$bin/kestrin_ldif_gen" "$cf" "$entries" "$form"
        csize=$(stat -c %s "$cf")
        cat "$cf" > /dev/null
        least() { awk -v a="$1" -v b="$2" 'BEGIN { print (b < a ? b : a) }'; }
        most() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }
        c_best=1e9 c_map=1e9 o_best3=1e9
        for _ in $(seq "$repeat"); do
            read -r _ b n _ _ < <("$bin/kestrin_ldif_reader" "$cf" 1 read records)
            c_best=$(least "$c_best" "$b")
            read -r _ b _ _ _ < <("$bin/kestrin_ldif_reader" "$cf" 1 map records)
            c_map=$(least "$c_map" "$b")
            read -r _ b _ < <("$bin/kestrin_ldif_load_openldap" "$cf" 1)
            o_best3=$(least "$o_best3" "$b")
        done
        k_wall=1e9 k_peak=0 r_wall=1e9 r_peak=0
        for _ in $(seq "${STREAM_REPEAT:-11}"); do
            read -r w _ m < <(run "$kestrin" -c "$cf")
            k_wall=$(least "$k_wall" "$w")
            k_peak=$(most "$k_peak" "$m")
            read -r w _ m < <(run "$bin/kestrin_ldif_reader" "$cf" 1 read records)
            r_wall=$(least "$r_wall" "$w")
            r_peak=$(most "$r_peak" "$m")
        done
        awk -v form="$form" -v c="$c_best" -v cm="$c_map" -v o="$o_best3" -v size="$csize" -v n="$n" -v kw="$k_wall" \
            -v rw="$r_wall" -v km="$k_peak" -v rm="$r_peak" 'BEGIN {
            printf "record reader, %s records (%d, %d bytes): best %.4fs = %.0f MB/s; OpenLDAP best %.4fs" \
                   " -> ratio %.2f (target >= 3); the file mapped: %.4fs, ratio %.2f\n",
                   form, n, size, c, size / c / 1e6, o, o / c, cm, o / cm
            printf "   kestrin -c %.3fs vs the record reader %.3fs, whole processes -> %.2f (target <= 1.2);" \
                   " peak memory %.1f MiB and %.1f MiB (target <= 8)\n", kw, rw, kw / rw, km / 1024, rm / 1024 }'
    done
    rm -f "$rss"
else
    echo "OpenLDAP peer not built (install libldap-dev)"
fi
if /usr/bin/python3 -c 'import ldif' 2>/dev/null; then
    read -r p_time p_n < <(/usr/bin/python3 bench/ldif_load_python.py "$file")
    awk -v k="$k_best" -v p="$p_time" -v kf="$k_first" 'BEGIN {
        printf "python-ldap LDIFParser: %.3fs -> %.1f x slower than the best load (target >= 20), %.1f x than the first\n", p, p / k, p / kf }'
else
    echo "python-ldap not installed (python3-ldap)"
fi

#!/usr/bin/env bash
# The symbols the libraries define against the functions the public headers
# declare: libkestrin.so exports exactly those functions, each under its
# prefixed name, and libkestrin.a defines every one of them and no other
# C symbol without the prefix. The declarations are read by the compiler
# (gcc -aux-info), not by pattern matching on the header text.
# Usage: symbols.sh SOURCE_DIR LIBKESTRIN_SO LIBKESTRIN_A
set -euo pipefail
source_dir=$1
shared=$2
static=$3

for tool in gcc nm readelf; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d /tmp/kestrin_symbols.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0

# Every public header, through one translation unit.
(cd "$source_dir/lib" && find . -name '*.h' ! -name '*_internal.h' | sort) |
    sed 's|^\./\(.*\)|#include "\1"|' >"$work/all.c"
[ -s "$work/all.c" ] || { echo "no public headers found under $source_dir/lib"; exit 1; }
gcc -std=c11 -fsyntax-only -I"$source_dir/lib" -aux-info "$work/aux.txt" "$work/all.c"
# Lines look like: /* /src/lib/codec/hex.h:19:NC */ extern char *hex_encode (const unsigned char *, size_t);
grep -F "/* $source_dir/lib/" "$work/aux.txt" | sed 's|^/\*[^*]*\*/ ||' | grep -v '^static ' |
    sed -E 's/^[^(]*[ *]([A-Za-z_][A-Za-z0-9_]*) \(.*/\1/' | sort -u >"$work/declared"
[ -s "$work/declared" ] || { echo "no function declarations found in the public headers"; exit 1; }

unprefixed=$(grep -v '^kestrin_' "$work/declared" || true)
if [ -n "$unprefixed" ]; then
    echo "declared without a link-level name (add a line for each to lib/kestrin_api.h):"
    echo "$unprefixed" | sed 's/^/  /'
    fail=1
fi

nm -D --defined-only "$shared" | awk '{print $NF}' | sed 's/@.*//' | sort -u >"$work/exported"
if ! diff -u --label declared "$work/declared" --label exported "$work/exported" >"$work/diff"; then
    echo "the symbols $shared exports differ from the functions the public headers declare:"
    cat "$work/diff"
    fail=1
fi

soname=$(readelf -d "$shared" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
major=$(basename "$(readlink -f "$shared")" | sed -E 's/^libkestrin\.so\.([0-9]+).*/\1/')
if [ "$soname" != "libkestrin.so.$major" ]; then
    echo "SONAME of $shared is '$soname', expected libkestrin.so.$major"
    fail=1
fi

# The archive: C symbols (not C++-mangled) carry the prefix, and every
# declared function is defined. Weak and unique symbols are the compiler's
# (vague linkage, DW.ref.__gxx_personality_v0) and merge at link time.
nm -g --defined-only "$static" | awk 'NF == 3 && $2 !~ /^[VvWwu]$/ {print $3}' | sort -u >"$work/archive"
stray=$(grep -v -e '^kestrin_' -e '^_Z' "$work/archive" || true)
if [ -n "$stray" ]; then
    echo "C symbols without the prefix defined in $static:"
    echo "$stray" | sed 's/^/  /'
    fail=1
fi
missing=$(comm -23 "$work/declared" "$work/archive")
if [ -n "$missing" ]; then
    echo "declared but not defined in $static:"
    echo "$missing" | sed 's/^/  /'
    fail=1
fi

[ "$fail" = 0 ] && echo "symbols ok: $(wc -l <"$work/declared") functions"
exit "$fail"

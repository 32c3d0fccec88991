#!/usr/bin/env bash
# The library defines no global C++ symbol outside namespace kestrin: what a
# program linking it sees globally is the C interface and kestrin:: names.
# Weak symbols (inline functions and templates of the standard library) are
# left out.
set -euo pipefail
archive=$1
leaked=$(nm --defined-only -g "$archive" | awk '$2 ~ /^[TDBR]$/ && $3 ~ /^_Z/ { print $3 }' | c++filt |
         grep -v '^kestrin::' || true)
if [ -n "$leaked" ]; then
    echo "global C++ symbols outside namespace kestrin:"
    echo "$leaked"
    exit 1
fi

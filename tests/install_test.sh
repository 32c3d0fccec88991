#!/usr/bin/env bash
# Installs the project into a temporary prefix and uses it from outside the
# tree as a new user would: a C-only and a C++-only project through
# find_package(kestrin), the same programs through pkg-config (shared, and
# fully static with --static), and plugins on the shared and on the static
# library loaded with dlopen.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR DLOPEN_LOADER
set -euo pipefail
build_dir=$1
source_dir=$2
loader=$3
work=$(mktemp -d /tmp/kestrin_install.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

# A prefix spelt with a detour and a trailing slash: what the package files
# say must be the normalised path.
mkdir "$work/detour"
cmake --install "$build_dir" --prefix "$work/detour/../prefix/" >/dev/null
prefix=$work/prefix
for f in bin/kestrin lib/libkestrin.a lib/libkestrin.so include/kestrin/codec/base64.h \
         include/kestrin/ldif/ldif.h include/kestrin/kestrin_api.h lib/pkgconfig/kestrin.pc \
         lib/cmake/kestrin/kestrinConfig.cmake share/man/man1/kestrin.1; do
    [ -e "$prefix/$f" ] || fail "not installed: $f"
done
soname=$(readelf -d "$prefix/lib/libkestrin.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ -n "$soname" ] && [ -f "$prefix/lib/$soname" ] || fail "SONAME '$soname' of libkestrin.so is not installed"
[ -z "$(find "$prefix/include" -name '*_internal.h')" ] || fail "internal headers installed"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
cflags=$(pkg-config --cflags kestrin | sed "s/ *$//")
[ "$cflags" = "-I$prefix/include -I$prefix/include/kestrin" ] || fail "pkg-config --cflags: $cflags"
libs=$(pkg-config --libs kestrin | sed "s/ *$//")
[ "$libs" = "-L$prefix/lib -lkestrin" ] || fail "pkg-config --libs: $libs"

# Every installed header compiles on its own in the <kestrin/...> form with
# nothing but the prefix's include directory, as from /usr/include.
(cd "$prefix/include" && find kestrin -name '*.h' | sort) | sed 's/.*/#include <&>/' >"$work/headers.c"
cc -std=c11 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$prefix/include" "$work/headers.c" ||
    fail "the installed headers do not compile as <kestrin/...> with -I$prefix/include only"

expected=$'cn:: eAo=\nread cn: 2 bytes, binary 1'
check() {  # check LABEL PROGRAM: runs it and compares its output
    local out
    out=$("$2") || fail "$1: exit status $?"
    [ "$out" = "$expected" ] || fail "$1 gave a wrong result: $out"
}
needs() {  # needs LABEL PROGRAM WANT: WANT 1 when the program must load libkestrin.so, 0 when it must not
    local has=0
    readelf -d "$2" | grep -q 'NEEDED.*libkestrin' && has=1
    [ "$has" = "$3" ] || fail "$1: needs libkestrin.so: $has, expected $3"
}

# find_package from a C-only and from a C++-only project.
for lang in C CXX; do
    app=$work/cmake_$lang
    cmake -S "$source_dir/tests/install" -B "$app" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        -DCONSUMER_LANGUAGE=$lang -DPLUGIN_SOURCE="$source_dir/tests/link/plugin.c" >"$work/log" 2>&1 ||
        { cat "$work/log"; fail "find_package($lang): configure failed"; }
    cmake --build "$app" >"$work/log" 2>&1 || { cat "$work/log"; fail "find_package($lang): build failed"; }
    check "find_package($lang) kestrin::kestrin" "$app/app_shared"
    needs "find_package($lang) kestrin::kestrin" "$app/app_shared" 1
    check "find_package($lang) kestrin::kestrin_static" "$app/app_static"
    needs "find_package($lang) kestrin::kestrin_static" "$app/app_static" 0
done
"$loader" "$work/cmake_C/libplugin_shared.so" "$prefix/lib/libkestrin.so" >/dev/null || fail "plugin on libkestrin.so"
"$loader" "$work/cmake_C/libplugin_static.so" >/dev/null || fail "plugin with libkestrin.a inside"

# pkg-config: the shared library, and a fully static link through --static.
for compiler in cc c++; do
    src=$source_dir/tests/install/consumer.c
    [ "$compiler" = c++ ] && src=$source_dir/tests/install/consumer.cpp
    # shellcheck disable=SC2046  # the flags are words
    "$compiler" -o "$work/pc_shared" "$src" $(pkg-config --cflags --libs kestrin) -Wl,-rpath,"$prefix/lib" ||
        fail "pkg-config ($compiler): shared link failed"
    check "pkg-config ($compiler)" "$work/pc_shared"
    needs "pkg-config ($compiler)" "$work/pc_shared" 1
    # shellcheck disable=SC2046
    "$compiler" -static -o "$work/pc_static" "$src" $(pkg-config --cflags --libs --static kestrin) ||
        fail "pkg-config --static ($compiler): static link failed"
    check "pkg-config --static ($compiler)" "$work/pc_static"
done
# The plugin a user builds with the flags pkg-config gives.
# shellcheck disable=SC2046
cc -shared -fPIC -o "$work/wrap.so" "$source_dir/tests/link/plugin.c" $(pkg-config --cflags --libs kestrin) \
    -Wl,-rpath,"$prefix/lib" || fail "pkg-config: plugin link failed"
"$loader" "$work/wrap.so" >/dev/null || fail "plugin built with pkg-config"

[ "$("$prefix/bin/kestrin" -a cn -s hello)" = "cn: hello" ] || fail "installed kestrin gave a wrong result"
echo "install ok"

#!/usr/bin/env bash
# Installs the project into a temporary prefix and builds a C program against
# it twice: through find_package(kestrin) and through pkg-config.
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d /tmp/kestrin_install.XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
for f in bin/kestrin lib/libkestrin.a include/kestrin/codec/base64.h include/kestrin/ldif/ldif.h \
         share/man/man1/kestrin.1; do
    [ -f "$work/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

mkdir "$work/app"
cat > "$work/app/main.c" <<'C'
#include "codec/base64.h"
#include "ldif/ldif.h"
#include <stdlib.h>
int main(void) {
    int count = 0;
    char *text = ldif_write_attr(NULL, &count, "cn", "x\n", 2, LDIF_ENC_AUTO);
    if (!text) return 1;
    fputs(text, stdout);
    free(text);
    return 0;
}
C
cat > "$work/app/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(app C CXX)
find_package(kestrin 1.0 REQUIRED)
add_executable(app main.c)
target_link_libraries(app PRIVATE kestrin::kestrin)
set_target_properties(app PROPERTIES LINKER_LANGUAGE CXX)
CM
cmake -S "$work/app" -B "$work/app/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/app/build" >/dev/null
[ "$("$work/app/build/app")" = "cn:: eAo=" ] || { echo "find_package build gave a wrong result"; exit 1; }

flags=$(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs kestrin)
cc -o "$work/app/pc" "$work/app/main.c" $flags
[ "$("$work/app/pc")" = "cn:: eAo=" ] || { echo "pkg-config build gave a wrong result"; exit 1; }
[ "$("$work/prefix/bin/kestrin" -a cn -s hello)" = "cn: hello" ]
echo "install ok"

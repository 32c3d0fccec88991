#!/usr/bin/env bash
# Installs, on Debian, what a task needs and is missing here; installs
# nothing when everything is there. The one list of the project's packages.
#   scripts/deps.sh build   compiler, CMake, Ninja: the tool and the library
#   scripts/deps.sh test    the above, GoogleTest, Google Benchmark and the
#                           peers of the tests (libldap, slapd, ldap-utils,
#                           python-ldap, Net::LDAP, OpenSSL's headers)
#   scripts/deps.sh ci      the above, and libFuzzer's runtime for clang
set -euo pipefail
task="${1:-build}"
case "$task" in build | test | ci) ;; *) echo "usage: $0 build|test|ci" >&2; exit 2 ;; esac

need=()
have_cmd() { command -v "$1" >/dev/null; }
want_cmd() { have_cmd "$1" || need+=("$2"); }
want_file() { [ -e "$1" ] || need+=("$2"); }

want_cmd cmake cmake
want_cmd ninja ninja-build
want_cmd g++ g++
want_cmd cc gcc
if [ "$task" != build ]; then
    want_cmd pkg-config pkg-config
    have_cmd readelf && have_cmd nm || need+=(binutils)  # symbol and SONAME checks
    want_file /usr/include/gtest/gtest.h libgtest-dev
    want_file /usr/include/benchmark/benchmark.h libbenchmark-dev
    want_file /usr/include/openssl/evp.h libssl-dev  # peer of the digest benchmark
    want_file /usr/include/ldif.h libldap-dev         # peer of the LDIF benchmark and the link tests
    # Real peers of the interoperability test: an OpenLDAP server, its
    # tools, python-ldap and Net::LDAP.
    want_file /usr/sbin/slapd slapd
    want_cmd ldapsearch ldap-utils
    /usr/bin/python3 -c 'import ldap' 2>/dev/null || need+=(python3-ldap)
    perl -MNet::LDAP::LDIF -e 1 2>/dev/null || need+=(libnet-ldap-perl)  # Perl's LDIF reader and writer
fi
if [ "$task" = ci ]; then
    # libFuzzer's runtime for the clang build's fuzz targets.
    if have_cmd clang++ && [ ! -f "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ] &&
       [ -z "$(find /usr/lib/llvm-*/lib/clang -name libclang_rt.fuzzer-x86_64.a 2>/dev/null | head -n 1)" ]; then
        need+=(libclang-rt-14-dev)
    fi
fi

[ "${#need[@]}" -eq 0 ] && exit 0
echo "installing: ${need[*]}" >&2
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${need[@]}"

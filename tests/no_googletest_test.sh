#!/usr/bin/env bash
# A machine without GoogleTest and Google Benchmark: configuring says so in
# one line each and goes on, the tool builds and runs, and the test run
# fails at once naming the packages to install.
#   no_googletest_test.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
src="$1" dir="$2"
rm -rf "$dir"
mkdir -p "$dir"
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake -S "$src" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
    >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log" >&2; fail "configure failed"; }
grep -qx -- "-- GoogleTest not found (apt-get install libgtest-dev): its tests are not built" "$dir/configure.log" ||
    fail "no line about GoogleTest"
grep -qx -- "-- Google Benchmark not found (apt-get install libbenchmark-dev): benchmarks are not built" \
    "$dir/configure.log" || fail "no line about Google Benchmark"

cmake --build "$dir/build" --target kestrin >"$dir/build.log" 2>&1 || { tail -30 "$dir/build.log" >&2; fail "build failed"; }
[ "$("$dir/build/kestrin" -a description -s 'Hello, LDIF')" = "description: Hello, LDIF" ] || fail "the tool's line"

if (cd "$dir/build" && ctest -R '_missing$' --output-on-failure) >"$dir/ctest.log" 2>&1; then
    fail "the test run passed without GoogleTest"
fi
grep -q "apt-get install libgtest-dev" "$dir/ctest.log" || fail "the test run does not name libgtest-dev"
grep -q "apt-get install libbenchmark-dev" "$dir/ctest.log" || fail "the test run does not name libbenchmark-dev"
echo "ok"

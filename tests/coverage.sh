#!/usr/bin/env bash
# Line coverage of lib/ and tool/ by the whole test suite: builds with gcc
# --coverage (the coverage preset, in build-coverage), runs ctest, and prints
# gcovr's report per file, lowest first, then the total.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v gcovr >/dev/null || { echo "gcovr is needed (apt-get install gcovr)" >&2; exit 1; }
find build-coverage -name '*.gcda' -delete 2>/dev/null || true
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j"$(nproc)"
ctest --preset coverage -j"$(nproc)" || echo "(some tests failed; coverage below is of the run as it went)" >&2
report="$(gcovr --root . --object-directory build-coverage --filter 'lib/' --filter 'tool/' --txt)"
# The per-file lines, lowest coverage first, then the total.
printf '%s\n' "$report" | grep -E '^(File|-)' | head -2
printf '%s\n' "$report" | grep -E '^(lib|tool)/' | awk '{ print $4, $0 }' | sort -n | cut -d' ' -f2-
printf '%s\n' "$report" | grep -E '^TOTAL'

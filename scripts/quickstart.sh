#!/usr/bin/env bash
# On a fresh Debian machine: installs what the build needs when it is
# missing, builds the tool (build/kestrin) and runs the README's example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default --target kestrin
build/kestrin -a description -s 'Hello, LDIF'

#!/usr/bin/env bash
# On a fresh Debian machine: installs the test packages and the peers of the
# tests when they are missing, then runs the README's test command.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
cmake --workflow --preset default

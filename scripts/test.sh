#!/usr/bin/env bash
# The whole test suite: installs what is missing, runs each fuzz target for a
# bounded time, then builds and runs every CTest test (its summary closes the output).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

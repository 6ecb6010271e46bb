#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs every CTest test,
# then runs each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

#!/usr/bin/env bash
# The whole test suite: installs what is missing, runs each fuzz target for a
# bounded time, builds and runs every CTest test, then the real-kernel suite
# (tests/realkernel), which says in one line whether it ran and how, and closes
# the output with its own count. REALKERNEL=0 leaves that suite out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
if [ "${REALKERNEL:-1}" != 0 ]; then
  tests/realkernel/setup.sh || true  # without its packages the suite says why it skips
  tests/realkernel/run.sh
else
  echo "realkernel: skipped (REALKERNEL=0)"
fi

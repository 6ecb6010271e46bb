#!/usr/bin/env bash
# Runs the suite under AddressSanitizer+UBSan, then under ThreadSanitizer.
# Usage: scripts/sanitize.sh [asan|tsan]   (both when no argument)
set -euo pipefail
cd "$(dirname "$0")/.."
for p in ${1:-asan tsan}; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
  ctest --preset "$p"
done

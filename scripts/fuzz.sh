#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a bounded
# time, starting from its seed corpus. Usage: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-20}"
cmake --preset fuzz >/dev/null
# Build only the fuzz programs (and what they link), not the whole tree again.
mapfile -t names < <(ninja -C build-fuzz -t targets all | sed -n 's/^\([A-Za-z0-9_]*_fuzz\): .*/\1/p' | grep -v '^cmake_' | sort -u)
if ((${#names[@]})); then cmake --build --preset fuzz --target "${names[@]}"; fi
shopt -s nullglob
targets=(build-fuzz/fuzz/*_fuzz)
if ((${#targets[@]} == 0)); then echo "no fuzz targets"; exit 0; fi
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus_src=$(find . -path ./build\* -prune -o -type d -name "${name}_corpus" -print | head -n1)
  work=$(mktemp -d)
  [ -n "$corpus_src" ] && cp -r "$corpus_src"/. "$work"/
  echo "fuzzing $name for ${secs}s"
  "$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" 2>&1 | tail -n 12
  rm -rf "$work"
done

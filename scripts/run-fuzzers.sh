#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for the given number of seconds each.
# Usage: run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
shopt -s nullglob
targets=("$build"/tests/fuzz/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build" >&2; exit 1; }
corpus=
trap 'rm -rf "$corpus"' EXIT
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  corpus=$(mktemp -d)
  echo "fuzzing $(basename "$t") for ${seconds}s"
  "$t" -max_total_time="$seconds" -print_final_stats=1 "$corpus"
  rm -rf "$corpus"
done

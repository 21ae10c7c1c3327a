#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
scripts/deps.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
for t in build/fuzz/fuzz/*_fuzz; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  scratch=$(mktemp -d)
  corpus=()
  [ -d "fuzz/corpus/$name" ] && corpus=("fuzz/corpus/$name")
  echo "== $name for ${secs}s"
  # A crash or sanitizer report fails the run with its report; the input that did it is kept in
  # fuzz/scratch/.
  mkdir -p fuzz/scratch
  log="$scratch.log"
  if ! "$t" -max_total_time="$secs" -print_final_stats=1 -artifact_prefix=fuzz/scratch/ \
      "$scratch" "${corpus[@]}" > "$log" 2>&1; then
    grep -v '^INFO:\|^#[0-9]* *\(NEW\|REDUCE\|pulse\|INITED\)' "$log" | tail -n 80
    rm -rf "$scratch" "$log"
    exit 1
  fi
  grep -E "^Done|stat::number_of_executed_units|stat::peak_rss_mb" "$log" || true
  rm -rf "$scratch" "$log"
done

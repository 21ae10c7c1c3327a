#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds (default 60),
# one target per core at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
scripts/deps.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
# Runs one target; its report goes to $2.  A crash or sanitizer report fails it, and the input that
# did it is kept in fuzz/scratch/.
run_one() {
  local t="$1" log="$2" name scratch corpus=()
  name=$(basename "$t")
  scratch=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && corpus=("fuzz/corpus/$name")
  echo "== $name for ${secs}s" > "$log"
  if ! "$t" -max_total_time="$secs" -print_final_stats=1 -artifact_prefix=fuzz/scratch/ \
      "$scratch" "${corpus[@]}" > "$log.raw" 2>&1; then
    grep -v '^INFO:\|^#[0-9]* *\(NEW\|REDUCE\|pulse\|INITED\)' "$log.raw" | tail -n 80 >> "$log"
    rm -rf "$scratch" "$log.raw"
    return 1
  fi
  grep -E "^Done|stat::number_of_executed_units|stat::peak_rss_mb" "$log.raw" >> "$log" || true
  rm -rf "$scratch" "$log.raw"
}
# One target per core at a time; every report is printed, and any failure fails the run.
mkdir -p fuzz/scratch
logs=$(mktemp -d)
failed=0
running=0
for t in build/fuzz/fuzz/*_fuzz; do
  [ -x "$t" ] || continue
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_one "$t" "$logs/$(basename "$t").log" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
cat "$logs"/*.log
rm -rf "$logs"
exit "$failed"

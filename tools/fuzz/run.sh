#!/usr/bin/env bash
# Runs each libFuzzer target for a number of seconds, starting from its seed corpus in
# tests/fuzz/<name>/corpus. New inputs gather in <build>/fuzz-corpus/<name>, crashing ones
# in <build>/fuzz-crashes: copy those into tests/fuzz/<name>/regressions, where the test
# suite replays them.
#   tools/fuzz/run.sh BUILD_DIR SECONDS NAME...
set -uo pipefail
build=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$build/fuzz-crashes"
failed=()
for name in "$@"; do
  corpus="$build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  seeds=("$root/tests/fuzz/$name/corpus")
  [ -d "$root/tests/fuzz/$name/regressions" ] && seeds+=("$root/tests/fuzz/$name/regressions")
  log="$build/fuzz-$name.log"
  echo "fuzz: $name for ${seconds}s"
  "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=8192 -print_final_stats=1 -artifact_prefix="$build/fuzz-crashes/$name-" \
    "$corpus" "${seeds[@]}" >"$log" 2>&1
  status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  echo "fuzz: $name: ${runs:-?} inputs, exit $status"
  if [ $status -ne 0 ]; then
    failed+=("$name")
    tail -n 40 "$log"
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs in $build/fuzz-crashes)" >&2
  exit 1
fi

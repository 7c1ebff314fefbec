#!/bin/sh
# Runs each fuzz target for a bounded time over a working copy of its seed corpus:
#   sh fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
# A crash, a leak, a sanitizer report, an escaped exception, a time-out or a broken invariant of the
# target (which includes any byte the code under test writes to standard error) makes the fuzzer exit
# non-zero, and then this script prints the end of its log and the input it kept, and fails.
set -eu
build=$1
seconds=$2
shift 2
targets=${*:-line reply lines}
here=$(cd "$(dirname "$0")" && pwd)
work=$build/fuzz-work
mkdir -p "$work/artifacts"

for target in $targets; do
  mkdir -p "$work/$target"
  rm -f "$work/artifacts/$target-"*  # an input kept by an earlier run is not this run's failure
  log=$work/$target.log
  echo "fuzz-$target: ${seconds}s"
  # The first corpus folder takes the new inputs, so the seeds in the repository stay as they are.
  if ! "$build/fuzz/fuzz-$target" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
      -dict="$here/json.dict" -artifact_prefix="$work/artifacts/$target-" \
      "$work/$target" "$here/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    for input in "$work/artifacts/$target-"*; do
      [ -e "$input" ] || continue
      echo "kept input $input:"
      od -c "$input" | head -n 20
    done
    echo "fuzz-$target FAILED"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$log" || true
  grep -E '^#[0-9]+.*(DONE|pulse)' "$log" | tail -n 1 || true
done

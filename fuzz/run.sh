#!/usr/bin/env bash
# Builds the fuzz targets (the fuzz preset: the asan preset's build, build/asan)
# and runs each for a bounded time on its seeds and the corpus it grew before;
# prints the executions per target and fails when a target found a crash (its
# input lands in build/asan/crashes/).
#   fuzz/run.sh                 every target, 30 s each
#   fuzz/run.sh -t 10 mail_import hive_restore
# A crash's input, once mended, goes to fuzz/regressions/<target>/, where the
# test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
while getopts "t:" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    *) echo "usage: $0 [-t seconds-per-target] [target...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(regfile_import hive_restore store_open catalog_read mail_import settings_read catalog_records)

./setup.sh --preset fuzz
build=build/asan
fuzz/seed.sh "$build"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allow_user_segv_handler=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan-suppressions.txt}
# One target per core at a time: each is a single process, and each still gets
# its full time. A target's line is printed in the targets' order.
jobs=$(nproc)
run_target() {
  local t=$1 corpus=$build/corpus/$1 crashes=$build/crashes/$1 log=$build/fuzz-$1.log status=0 runs line
  mkdir -p "$corpus" "$crashes"
  # The corpus first: what the run finds new is kept there for the next run.
  "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$crashes/" "$corpus" "$build/seeds/$t" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  runs=${runs:-$(grep -o 'Done [0-9]* runs' "$log" | tail -1 | grep -o '[0-9]*' || true)}
  line="fuzz: $t: ${runs:-?} executions in ${seconds} s"
  if [ "$status" -ne 0 ]; then
    line="$line, FAILED (status $status; $log; inputs in $crashes)"
    grep -E "ERROR: |SUMMARY: |runtime error|fuzz: " "$log" | head -5 >&2 || true
  fi
  echo "$status $line" >"$build/fuzz-$t.result"
}
for t in "${targets[@]}"; do
  rm -f "$build/fuzz-$t.result"
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_target "$t" &
done
wait
failed=()
for t in "${targets[@]}"; do
  read -r status line <"$build/fuzz-$t.result" || { status=1 line="fuzz: $t: no result"; }
  [ "$status" -eq 0 ] || failed+=("$t")
  echo "$line"
done
echo "fuzz: ${#targets[@]} targets, ${#failed[@]} failed${failed:+: ${failed[*]}}"
[ ${#failed[@]} -eq 0 ]

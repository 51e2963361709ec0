#!/usr/bin/env bash
# run-fuzz.sh <build folder> <seconds> [target...]: runs every libFuzzer program of the build (or
# those named; FUZZ_JOBS of them at a time) for the given seconds each, from its seeds and the
# corpus the build folder keeps between runs. Fails when any target finds a crash, leak, timeout,
# memory blow-up (one allocation over 256 MB counts) or sanitizer
# report; the input is then in <build>/fuzz/<target>/artifacts/. Prints each target's executions.
set -uo pipefail
build=$1 seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -gt 0 ]; then names=("$@"); else
  names=()
  for exe in "$build"/tests/fuzz/fuzz_*; do
    [ -f "$exe" ] && [ -x "$exe" ] && [[ $exe != *_replay ]] && names+=("${exe##*/fuzz_}")
  done
fi
[ ${#names[@]} -gt 0 ] || { echo "run-fuzz: no fuzz targets in $build" >&2; exit 1; }
# One target: prints its line; its status is its exit code.
run_one() {
  local name=$1 exe=$build/tests/fuzz/fuzz_$1 work=$build/fuzz/$1 rc execs
  rm -rf "$work/seeds" "$work/artifacts"
  mkdir -p "$work/corpus" "$work/artifacts"
  "$here/seeds.sh" "$name" "$work/seeds" || { echo "fuzz_$name: the seeds could not be made"; return 1; }
  # A clean slate for what the checkers report: only the run's own options.
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "$work/seeds" >"$work/log" 2>&1
  rc=$?
  execs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$work/log")
  echo "fuzz_$name: ${execs:-?} executions in ${seconds} s$( [ $rc -ne 0 ] && echo ", FAILED (exit $rc)")"
  if [ $rc -ne 0 ]; then
    tail -n 80 "$work/log"
    ls -l "$work/artifacts"
  fi
  return $rc
}

# FUZZ_JOBS targets at a time, each on a core of its own; their reports follow in order.
jobs=${FUZZ_JOBS:-1}
mkdir -p "$build/fuzz"
declare -A pid
failed=()
for i in "${!names[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_one "${names[$i]}" >"$build/fuzz/${names[$i]}.report" 2>&1 &
  pid[$i]=$!
done
for i in "${!names[@]}"; do
  wait "${pid[$i]}" || failed+=("${names[$i]}")
  cat "$build/fuzz/${names[$i]}.report"
done
if [ ${#failed[@]} -gt 0 ]; then echo "fuzz: findings in ${failed[*]}"; exit 1; fi
echo "fuzz: ${#names[@]} targets, no findings"

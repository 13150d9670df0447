#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan, UBSan) and runs each one for a bounded time,
# starting from its committed seeds. A finding stops that target, leaves the input that caused
# it in build-fuzz/findings/<target>/, and makes the script fail.
#
#   fuzz/run_fuzzers.sh [seconds-per-target]
#
# New inputs that reach new code go to build-fuzz/corpus/<target>/, never into the committed
# seeds. Inputs stay small: the targets stretch them to long lines themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} cmake --workflow --preset fuzz 2>&1 | tail -n 20
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in command_line species_list species_pipeline; do
  mkdir -p "build-fuzz/corpus/$target" "build-fuzz/findings/$target"
  build-fuzz/fuzz/"$target"_fuzzer "build-fuzz/corpus/$target" "fuzz/corpus/$target" -max_len=4096 \
    -max_total_time="${1:-600}" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/findings/$target/" >"build-fuzz/$target.log" 2>&1 ||
    { status=1; echo "!! $target:"; tail -n 40 "build-fuzz/$target.log"; continue; }
  echo "$target: $(grep -E '^stat::number_of_executed_units' "build-fuzz/$target.log")"
done
exit $status

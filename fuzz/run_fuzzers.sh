#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan, UBSan) and runs each one for a bounded time,
# starting from its committed seed corpus. A finding stops that target, leaves the input that
# caused it in build-fuzz/findings/, and makes the script fail.
#
#   fuzz/run_fuzzers.sh [seconds-per-target] [target...]
#
# New inputs that reach new code go to build-fuzz/corpus/<target>/, never into the committed
# seeds; copy the useful ones over by hand (libFuzzer's -merge=1 keeps a minimal set).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(command_line species_list species_pipeline)

mkdir -p build-fuzz
if ! CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
    cmake --workflow --preset fuzz >build-fuzz/build.log 2>&1; then
  cat build-fuzz/build.log
  exit 1
fi

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  findings=build-fuzz/findings/$target
  mkdir -p "$corpus" "$findings"
  log=build-fuzz/$target.log
  echo "== $target: ${seconds}s"
  # Long lines are built inside the targets from short inputs, so small inputs suffice.
  if build-fuzz/fuzz/${target}_fuzzer "$corpus" "fuzz/corpus/$target" \
      -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$log" || tail -n 3 "$log"
  else
    status=1
    echo "!! $target found a problem; input saved in $findings/"
    tail -n 40 "$log"
  fi
done
exit $status

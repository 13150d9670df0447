#!/usr/bin/env bash
# What each performance mechanism gains: the tool built without it (one build per switch of
# cmake/performance_switches.cmake) against the full build, on the benchmark collection (100
# species of 3,000 proteins) and on one species of 200 MB, first with fresh outputs and then
# replacing them, with the default --jobs. The builds run alternately, round after round; a
# gain is the median time without the mechanism over the median time with it, less one.
#
#   bench/ablation.sh [ROUNDS]      (default 7)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
bench_dir=${BENCH_DIR:-/tmp/tarnel-bench}
mkdir -p "$bench_dir"

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 >/dev/null
generate() {  # the same data as bench/run_benchmarks.sh, shared with it
  local name=$1
  shift
  local stamp="$bench_dir/$name/.generated"
  if [[ -f $stamp && $(cat "$stamp") == "$*" ]]; then return; fi
  rm -rf "${bench_dir:?}/$name"
  build-bench/bench/generate_collection "$bench_dir/$name" "$@"
  echo "$*" >"$stamp"
}
generate collection --species 100 --proteins 3000 --seed 1
generate single200 --species 1 --bytes 200000000 --seed 2 --crlf-every 0

switches=$(sed -n '/^set(TARNEL_PERFORMANCE_SWITCHES/,/^)/{//!p}' cmake/performance_switches.cmake |
  awk '{print $1}')
# Every binary built alike, the full one too, so that only the switch tells them apart.
declare -A binary
for build in all $switches; do
  cmake -S . -B "build-ablation/$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    $([[ $build == all ]] || echo "-DTARNEL_$build=OFF") >/dev/null
  cmake --build "build-ablation/$build" --target tarnel -j2 >/dev/null
  binary[$build]=$PWD/build-ablation/$build/tarnel
done
builds=(all $switches)

declare -A seconds  # "build case outputs" -> one time per round
for ((round = 1; round <= rounds; round++)); do
  for case in collection single200; do
    dir=$bench_dir/$case
    cat "$dir"/protein/* >/dev/null
    for outputs in fresh replacing; do
      # Each round starts with another build: none gains from always running first.
      for ((i = 0; i < ${#builds[@]}; i++)); do
        build=${builds[(i + round) % ${#builds[@]}]}
        # Fresh: no earlier outputs, and their removal's deferred work done before the clock.
        if [[ $outputs == fresh ]]; then rm -f "$dir"/status/* "$dir"/dup/* "$dir"/fasta/*; sync; fi
        start=$EPOCHREALTIME
        (cd "$dir" && "${binary[$build]}" -w 1 active_species.txt all_species.txt >/dev/null)
        seconds[$build $case $outputs]+="$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {print b - a}') "
      done
    done
  done
done

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
echo "| switched off | collection, fresh | collection, replacing | 200 MB, fresh | 200 MB, replacing |"
echo "|---|---|---|---|---|"
printf '| (none: seconds) |'
for key in "collection fresh" "collection replacing" "single200 fresh" "single200 replacing"; do
  printf ' %.3f s |' "$(median ${seconds[all $key]})"
done
echo
for switch in $switches; do
  printf '| %s |' "$switch"
  for key in "collection fresh" "collection replacing" "single200 fresh" "single200 replacing"; do
    printf ' %+.1f%% |' "$(awk -v a="$(median ${seconds[$switch $key]})" \
      -v b="$(median ${seconds[all $key]})" 'BEGIN {print (a / b - 1) * 100}')"
  done
  echo
done

#!/usr/bin/env bash
# Measures tarnel against the floor (a one-process block copy of the same files) and against
# a general-purpose pipeline, on generated collections, and prints the ratios and peak memory.
# Commands that are compared run alternately, round after round, and every figure is the
# median of its rounds, so that a burst of load on the machine hits all of them alike.
#
# Runs are measured with fresh outputs, as a first run meets them: the outputs of an earlier
# run are removed and `sync` is run, untimed, before the run, so that the run does not pay for
# the removal's deferred work. Runs marked "replacing" find the outputs of the run before them
# in place, and pay for letting those go.
#
#   bench/run_benchmarks.sh [--repeats N] [--no-pipeline] [--no-gigabyte] [--check-against BIN]
#
#   --repeats N          rounds per comparison (default 5; the pipeline gets at most 3)
#   --no-pipeline        skip the seqkit pipeline (the slowest command by far)
#   --no-gigabyte        skip the 1 GB scaling case (needs about 3 GB of disk and 1.2 GB of RAM)
#   --check-against BIN  also run another tarnel binary on the collection and require
#                        byte-identical output files (for checking an optimisation)
#
# Generated files go to $BENCH_DIR (default /tmp/tarnel-bench) and are reused by later runs.
# $TARNEL selects the binary to measure (default: the one the 'bench' preset builds).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

repeats=5
with_pipeline=1
with_gigabyte=1
reference=""
while (($#)); do
  case $1 in
    --repeats) repeats=$2; shift ;;
    --no-pipeline) with_pipeline=0 ;;
    --no-gigabyte) with_gigabyte=0 ;;
    --check-against) reference=$(realpath "$2"); shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift
done

bench_dir=${BENCH_DIR:-/tmp/tarnel-bench}
mkdir -p "$bench_dir"
bench_dir=$(realpath "$bench_dir")
scratch=$(mktemp -d "$bench_dir/run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# --- tools ---------------------------------------------------------------------------------
missing=()
[[ -x /usr/bin/time ]] || missing+=(time)
((with_pipeline == 0)) || command -v seqkit >/dev/null || missing+=(seqkit)
if ((${#missing[@]})); then
  echo "== installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

echo "== building (preset bench)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 >/dev/null
bin=$source_dir/build-bench/bench
tarnel=${TARNEL:-$source_dir/build-bench/tarnel}
tarnel=$(realpath "$tarnel")

# --- data ------------------------------------------------------------------------------------
generate() {  # generate NAME GENERATOR-ARGS...: makes $bench_dir/NAME once per argument set
  local name=$1
  shift
  local stamp="$bench_dir/$name/.generated"
  if [[ -f $stamp && $(cat "$stamp") == "$*" ]]; then return; fi
  echo "== generating $name ($*)"
  rm -rf "${bench_dir:?}/$name"
  "$bin/generate_collection" "$bench_dir/$name" "$@"
  echo "$*" >"$stamp"
}
generate collection --species 100 --proteins 3000 --seed 1
# The same small species, and four of 50 MB among them.
generate mixed --species 100 --proteins 3000 --seed 1 --large-every 25 --large-bytes 50000000
generate single200 --species 1 --bytes 200000000 --seed 2 --crlf-every 0
generate single100 --species 1 --bytes 100000000 --seed 3 --crlf-every 0
generate single300 --species 1 --bytes 300000000 --seed 4 --crlf-every 0
generate lists10k --species 10000 --lists-only
generate lists100k --species 100000 --lists-only
if ((with_gigabyte)); then
  free_bytes=$(df --output=avail -B1 "$bench_dir" | tail -1)
  free_memory=$(awk '/MemAvailable/ {printf "%.0f", $2 * 1024}' /proc/meminfo)
  if ((free_bytes < 4000000000 || free_memory < 2500000000)); then
    echo "== not enough disk or memory for the 1 GB case: skipped"
    with_gigabyte=0
  else
    generate single1g --species 1 --bytes 1000000000 --seed 5 --crlf-every 0
  fi
fi

# --- measuring -------------------------------------------------------------------------------
declare -A seconds memory  # label -> space-separated values, one per round

timed() {  # timed LABEL DIR COMMAND...: one run in DIR, wall seconds and peak RSS (KiB) recorded
  local label=$1 dir=$2
  shift 2
  local start end
  # Every run reads its inputs from the page cache. Left alone, whether they are still cached
  # depends on what ran before and on the host's memory reclaim, and a gigabyte read from the
  # disk or from memory differs by more than what is being compared.
  if compgen -G "$dir/protein/*" >/dev/null; then cat "$dir"/protein/* >/dev/null; fi
  start=$EPOCHREALTIME
  if ! (cd "$dir" && /usr/bin/time -f %M -o "$scratch/rss" "$@" >/dev/null 2>"$scratch/err"); then
    echo "failed: $label: $*" >&2
    cat "$scratch/err" >&2
    exit 1
  fi
  end=$EPOCHREALTIME
  seconds[$label]+="$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", b - a}') "
  memory[$label]+="$(tail -1 "$scratch/rss") "
}

median() {  # median VALUES...
  printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
median_seconds() { median ${seconds[$1]}; }
median_memory() { median ${memory[$1]}; }
ratio() { awk -v a="$1" -v b="$2" -v d="${3:-2}" 'BEGIN {printf "%.*f", d, a / b}'; }
file_bytes() { stat -c %s "$@" | awk '{s += $1} END {print s}'; }

seqkit_pipeline() {  # the usual way: dereplicate, sort by length, rewrap, one species at a time
  local dir=$1 out=$2 file name
  mkdir -p "$out"
  for file in "$dir"/protein/*.fa; do
    name=$(basename "$file" .fa)
    seqkit rmdup -s -P -D "$out/$name.dup" "$file" 2>/dev/null |
      seqkit sort -l -r 2>/dev/null | seqkit seq -i -w 80 >"$out/$name.fas" 2>/dev/null
  done
}
export -f seqkit_pipeline

floor_copy() {  # floor_copy LABEL CASE-DIR [fresh]: every file of the case, one process
  local out="$scratch/floor-$(basename "$2")"
  mkdir -p "$out"
  if [[ ${3:-} == fresh ]]; then rm -f "$out"/*; sync; fi
  timed "$1" "$2" "$bin/copy_floor" "$out" "$2"/protein/*.fa
}

remove_outputs() {  # remove_outputs CASE-DIR: the output files of earlier runs
  rm -f "$1"/status/* "$1"/dup/* "$1"/fasta/*
}

run_tarnel() {  # run_tarnel LABEL CASE-DIR fresh|replacing [OPTIONS...]: -w 1 and the defaults
  local label=$1 dir=$2 outputs=$3
  shift 3
  if [[ $outputs == fresh ]]; then remove_outputs "$dir"; sync; fi
  timed "$label" "$dir" "$tarnel" -w 1 "$@" active_species.txt all_species.txt
}

# The collection's list cut in two halves, each a list of its own, for running two processes at
# once: what the machine gives two independent runs, against --jobs 2 in one.
halves() {  # halves CASE-DIR: writes half1.txt and half2.txt
  local dir=$1 count
  count=$(($(wc -l <"$dir/all_species.txt") - 1))
  { head -1 "$dir/all_species.txt"; sed -n "2,$((count / 2 + 1))p" "$dir/all_species.txt"; } >"$dir/half1.txt"
  { head -1 "$dir/all_species.txt"; sed -n "$((count / 2 + 2)),\$p" "$dir/all_species.txt"; } >"$dir/half2.txt"
}
two_at_once() {  # two_at_once CASE-DIR: tarnel --jobs 1 over each half, both at once
  local dir=$1
  "$tarnel" --jobs 1 -w 1 "$dir/half1.txt" "$dir/half1.txt" >/dev/null &
  "$tarnel" --jobs 1 -w 1 "$dir/half2.txt" "$dir/half2.txt" >/dev/null
  wait $!
}
two_floors_at_once() {  # two_floors_at_once CASE-DIR OUT: the floor over each half, both at once
  local files
  mapfile -t files < <(printf '%s\n' "$1"/protein/*.fa)
  local half=$((${#files[@]} / 2))
  "$bin/copy_floor" "$2" "${files[@]:0:half}" &
  "$bin/copy_floor" "$2" "${files[@]:half}"
  wait $!
}
export -f two_at_once two_floors_at_once
export tarnel bin

collection=$bench_dir/collection
halves "$collection"
echo "== 1: collection, $repeats rounds"
for ((round = 1; round <= repeats; round++)); do
  floor_copy floor "$collection" fresh
  run_tarnel jobs1 "$collection" fresh --jobs 1
  run_tarnel jobs2 "$collection" fresh --jobs 2
  remove_outputs "$collection" && rm -f "$scratch/floor-halves"/* && sync
  mkdir -p "$scratch/floor-halves"
  timed floor-halves "$collection" bash -c "two_floors_at_once '$collection' '$scratch/floor-halves'"
  timed jobs1-halves "$collection" bash -c "two_at_once '$collection'"
  floor_copy floor-replacing "$collection"
  run_tarnel jobs1-replacing "$collection" replacing --jobs 1
  run_tarnel jobs2-replacing "$collection" replacing --jobs 2
  if ((with_pipeline && round <= 3)); then
    rm -rf "$scratch/pipeline"
    timed pipeline "$collection" bash -c "seqkit_pipeline '$collection' '$scratch/pipeline'"
  fi
done
if [[ -n $reference ]]; then
  echo "== comparing the output files with those of $reference"
  for dir in status dup fasta; do mkdir -p "$scratch/reference/$dir"; done
  (cd "$collection" && "$reference" -w 1 -s "$scratch/reference/status" -d "$scratch/reference/dup" \
    -o "$scratch/reference/fasta" active_species.txt all_species.txt >/dev/null)
  for dir in status dup fasta; do diff -rq "$scratch/reference/$dir" "$collection/$dir"; done
  echo "   every output file is identical"
fi

mixed=$bench_dir/mixed
echo "== 1b: collection with four species of 50 MB, $repeats rounds"
for ((round = 1; round <= repeats; round++)); do
  run_tarnel mixed-jobs1 "$mixed" fresh --jobs 1
  run_tarnel mixed-jobs2 "$mixed" fresh --jobs 2
  run_tarnel mixed-jobs1-replacing "$mixed" replacing --jobs 1
  run_tarnel mixed-jobs2-replacing "$mixed" replacing --jobs 2
done
remove_outputs "$mixed"

echo "== 2: one species of 200 MB, $repeats rounds"
for ((round = 1; round <= repeats; round++)); do
  floor_copy floor200 "$bench_dir/single200" fresh
  run_tarnel tarnel200 "$bench_dir/single200" fresh
  floor_copy floor200-replacing "$bench_dir/single200"
  run_tarnel tarnel200-replacing "$bench_dir/single200" replacing
done

echo "== 3: scaling"
# Each run starts without outputs of an earlier run, as a first run does. Replacing an earlier
# output makes ext4 write the new file out to the disk inside the rename (what keeps it safe
# across a crash), and for a gigabyte that is bound by the disk, not by tarnel; the rounds
# that replace are measured apart and shown for information.
scaling_cases=(single100 single300)
((with_gigabyte)) && scaling_cases+=(single1g)
for ((round = 1; round <= repeats; round++)); do
  for name in "${scaling_cases[@]}"; do run_tarnel "$name" "$bench_dir/$name" fresh; done
done
if ((with_gigabyte)); then
  for ((round = 1; round <= repeats; round++)); do
    for name in single100 single1g; do run_tarnel "$name-replacing" "$bench_dir/$name" replacing; done
  done
fi
# Not needed any more, and 2 GB of page cache would slow whatever runs next.
((with_gigabyte)) && remove_outputs "$bench_dir/single1g"

echo "== 4: sorting a million records"
"$bin/sort_bench" 1000000 "$repeats" >"$scratch/sort.txt"
sort_ratio() { awk -v c="$1" 'index($0, c " ") == 1 {print $NF}' "$scratch/sort.txt"; }

echo "== 5: species lists, $repeats rounds"
for ((round = 1; round <= repeats; round++)); do
  for name in lists10k lists100k; do
    timed "$name" "$bench_dir/$name" "$tarnel" -u 0 -c 0 all_species.txt all_species.txt
  done
done

echo "== copy index against an ordered tree of views"
"$bin/index_bench" --repeats "$repeats" "$collection"/protein/*.fa >"$scratch/index.txt"

# --- report ----------------------------------------------------------------------------------
verdict() { awk -v v="$1" -v t="$2" 'BEGIN {print (v <= t ? "yes" : "NO")}'; }
row() {  # row CASE MEASURE VALUE TARGET
  printf '| %s | %s | %s | <= %s | %s |\n' "$1" "$2" "$3" "$4" "$(verdict "$3" "$4")"
}
mb() { awk -v b="$1" 'BEGIN {printf "%.0f MB", b / 1e6}'; }

collection_bytes=$(file_bytes "$collection"/protein/*.fa)
single200_bytes=$(file_bytes "$bench_dir"/single200/protein/*.fa)
echo
echo "Medians of $repeats alternated rounds (seqkit pipeline: $((repeats < 3 ? repeats : 3))), $(nproc) cores, $(date -u +%Y-%m-%d)"
echo
echo "| case | measure | value | target | met |"
echo "|---|---|---|---|---|"
info() {  # info CASE MEASURE VALUE: a row without a target
  printf '| %s | %s | %s | (for information) | |\n' "$1" "$2" "$3"
}
seconds_ratio() { ratio "$(median_seconds "$1")" "$(median_seconds "$2")"; }
row "1. 100 species x 3,000 proteins ($(mb "$collection_bytes"))" "--jobs 2 / --jobs 1" \
  "$(seconds_ratio jobs2 jobs1)" 0.6
row "" "--jobs 2 / --jobs 1, replacing" "$(seconds_ratio jobs2-replacing jobs1-replacing)" 0.6
row "" "--jobs 2 / copy floor" "$(seconds_ratio jobs2 floor)" 2.0
row "" "--jobs 2 / copy floor, replacing" "$(seconds_ratio jobs2-replacing floor-replacing)" 2.0
row "" "peak RSS --jobs 2 / --jobs 1" "$(ratio "$(median_memory jobs2)" "$(median_memory jobs1)")" 2.0
if ((with_pipeline)); then
  row "" "--jobs 1 / seqkit pipeline" "$(ratio "$(median_seconds jobs1)" "$(median_seconds pipeline)" 3)" 0.05
fi
info "" "--jobs 1 / copy floor" "$(seconds_ratio jobs1 floor)"
info "" "two --jobs 1 runs on halves at once / --jobs 1" "$(seconds_ratio jobs1-halves jobs1)"
info "" "--jobs 2 / two --jobs 1 runs on halves at once" "$(seconds_ratio jobs2 jobs1-halves)"
info "" "two floors on halves at once / copy floor" "$(seconds_ratio floor-halves floor)"
row "1b. the same with four species of 50 MB" "--jobs 2 / --jobs 1" \
  "$(seconds_ratio mixed-jobs2 mixed-jobs1)" 0.65
row "" "--jobs 2 / --jobs 1, replacing" \
  "$(seconds_ratio mixed-jobs2-replacing mixed-jobs1-replacing)" 0.65
row "2. one species of $(mb "$single200_bytes")" "peak RSS / file size" \
  "$(ratio "$(($(median_memory tarnel200) * 1024))" "$single200_bytes")" 1.3
row "" "tarnel / copy floor" "$(seconds_ratio tarnel200 floor200)" 5
row "" "tarnel / copy floor, replacing" "$(seconds_ratio tarnel200-replacing floor200-replacing)" 5
if ((with_gigabyte)); then
  row "3. one species of 1 GB against 100 MB" "time ratio" \
    "$(ratio "$(median_seconds single1g)" "$(median_seconds single100)")" 11
  row "" "peak RSS ratio" "$(ratio "$(median_memory single1g)" "$(median_memory single100)")" 11
  info "" "time ratio, replacing the outputs of a run before" \
    "$(ratio "$(median_seconds single1g-replacing)" "$(median_seconds single100-replacing)")"
fi
for c in ordered reversed "all equal"; do
  row "4. a million records, $c" "time / random" "$(sort_ratio "$c")" 3
done
row "5. lists of 100,000 against 10,000 species" "time ratio" \
  "$(ratio "$(median_seconds lists100k)" "$(median_seconds lists10k)")" 15

echo
echo "| run | median wall s | median peak RSS MiB |"
echo "|---|---|---|"
for label in floor floor-replacing floor-halves jobs1 jobs2 jobs1-halves jobs1-replacing \
  jobs2-replacing pipeline mixed-jobs1 mixed-jobs2 mixed-jobs1-replacing mixed-jobs2-replacing \
  floor200 tarnel200 floor200-replacing tarnel200-replacing "${scaling_cases[@]}" \
  single100-replacing single1g-replacing lists10k lists100k; do
  [[ -n ${seconds[$label]:-} ]] || continue
  printf '| %s | %s | %s |\n' "$label" "$(median_seconds "$label")" \
    "$(awk -v k="$(median_memory "$label")" 'BEGIN {printf "%.1f", k / 1024}')"
done
echo
echo "Sorting (written_order, longest first):"
cat "$scratch/sort.txt"
echo
echo "Copy index: $(cat "$scratch/index.txt")"

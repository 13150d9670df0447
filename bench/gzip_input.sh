#!/usr/bin/env bash
# Compressed input: tarnel reading .fa.gz files itself against `zcat file | tarnel`, with the
# plain files as a reference. Checks that all three runs write the same files, then prints the
# best of a few runs of each.
#
# usage: bench/gzip_input.sh [SPECIES [MB_PER_SPECIES [RUNS]]]
#   TARNEL=path/to/tarnel (default: build/tarnel); WORK=dir to keep the data in (default: a
#   temporary directory, removed at the end).
set -euo pipefail

species=${1:-4}
megabytes=${2:-40}
runs=${3:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
tarnel=$(realpath -m "${TARNEL:-$here/build/tarnel}")
[[ -x $tarnel ]] || { echo "no tarnel at $tarnel: build it first" >&2; exit 1; }
if [[ -n ${WORK:-} ]]; then
  work=$WORK
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"
mkdir -p protein status dup

# Random proteins of 50 to 1,000 residues in lines of 60, one in twenty a copy of an earlier one.
generate() {  # generate SEED MEGABYTES
  perl -e '
    my ($seed, $limit) = @ARGV;
    srand($seed);
    my @aa = split //, "ACDEFGHIKLMNPQRSTVWYACDEGKLSTV";
    my ($size, $n, @kept) = (0, 0);
    while ($size < $limit * 1e6) {
      my $seq;
      if (@kept && rand() < 0.05) {
        $seq = $kept[int(rand(@kept))];
      } else {
        $seq = join "", map { $aa[int(rand(@aa))] } 1 .. 50 + int(rand(951));
        push @kept, $seq if @kept < 1000;
      }
      (my $wrapped = $seq) =~ s/(.{60})/$1\n/g;
      $wrapped .= "\n" unless $wrapped =~ /\n\z/;
      my $record = sprintf(">sp|Q%07d|PROT%d_BENCH Benchmark protein %d OS=Nowhere\n%s",
                           $n, $n, $n, $wrapped);
      print $record;
      $size += length $record;
      $n++;
    }' "$1" "$2"
}

if [[ ! -f protein/s0.fa.gz ]]; then
  echo "== generating $species species of $megabytes MB"
  for ((i = 0; i < species; i++)); do
    generate "$i" "$megabytes" >"protein/s$i.fa"
    gzip -6 -n -k -f "protein/s$i.fa"
  done
fi

list() {  # list FILE-NAME... : the full list, one species per file name
  printf 'species_name\tFASTA_file_name\n'
  local i=0
  for file in "$@"; do
    printf 'S%d\t%s\n' "$i" "$file"
    i=$((i + 1))
  done
}
printf 'species_name\tFASTA_file_name\n' >active.txt
plain=() packed=()
for ((i = 0; i < species; i++)); do
  plain+=("s$i.fa")
  packed+=("s$i.fa.gz")
done
list "${plain[@]}" >plain.txt
list "${packed[@]}" >packed.txt

run_plain() { "$tarnel" -w 1 active.txt plain.txt; }
run_packed() { "$tarnel" -w 1 active.txt packed.txt; }
# Each species' file is a named pipe fed by its own zcat; the list names the pipes. The zcats
# are waited for, so their processor time counts.
run_piped() {
  (
    for ((i = 0; i < species; i++)); do zcat "protein/s$i.fa.gz" >"pipe$i" & done
    "$tarnel" -w 1 -i '' active.txt piped.txt
    wait
  )
}
pipes=()
for ((i = 0; i < species; i++)); do
  rm -f "pipe$i"
  mkfifo "pipe$i"
  pipes+=("$work/pipe$i")
done
list "${pipes[@]}" >piped.txt

outputs() { cat status/* dup/* fasta/* | md5sum; }
mkdir -p fasta
declare -A sums
for kind in plain packed piped; do
  rm -f status/* dup/* fasta/*
  "run_$kind" >"$kind.log"
  if grep -q "Errors: *[1-9]" "$kind.log"; then
    cat "$kind.log"
    exit 1
  fi
  sums[$kind]=$(outputs)
done
if [[ ${sums[plain]} != "${sums[packed]}" || ${sums[plain]} != "${sums[piped]}" ]]; then
  echo "outputs differ: plain ${sums[plain]} packed ${sums[packed]} piped ${sums[piped]}"
  exit 1
fi
echo "== outputs agree"

TIMEFORMAT='%R %U %S'
best() {  # best KIND LABEL: the fastest of $runs runs, wall and processor seconds
  local times=() r
  for ((r = 0; r < runs; r++)); do
    times+=("$({ time "run_$1" >/dev/null; } 2>&1)")
  done
  printf '%s\n' "${times[@]}" | awk -v label="$2" '
    { cpu = $2 + $3; if (NR == 1 || $1 < wall) wall = $1; if (NR == 1 || cpu < best) best = cpu }
    END { printf "%-30s %7.2f s wall %7.2f s cpu\n", label, wall, best }'
}
bytes=$(cat protein/*.fa | wc -c)
packed_bytes=$(cat protein/*.fa.gz | wc -c)
echo "== $species species, $bytes bytes, $packed_bytes compressed; best of $runs"
best plain "tarnel on the plain files"
best packed "tarnel on the .fa.gz files"
best piped "zcat file | tarnel"

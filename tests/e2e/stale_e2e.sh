#!/usr/bin/env bash
# A run killed outright in the middle of a large species, as the out-of-memory killer or a batch
# system's time limit does, leaves its temporaries behind. The next run into the same
# directories keeps them while they are fresh and removes them once they are old, and its
# outputs are whole.
set -euo pipefail
shopt -s nullglob
tool=${TARNEL:?TARNEL must name the tool binary}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() {
  echo "$*" >&2
  exit 1
}

# About 50 MB in one species, so that writing it takes a while.
mkdir protein
awk 'BEGIN {
  srand(1)
  for (i = 0; i < 4000; i++) pool = pool substr("ACDEFGHIKLMNPQRSTVWY", int(rand() * 20) + 1, 1)
  for (k = 0; k < 160000; k++) {
    printf ">P%d\n", k
    s = substr(pool, int(rand() * 3500) + 1, 100 + int(rand() * 400))
    for (i = 1; i <= length(s); i += 60) print substr(s, i, 60)
  }
}' >protein/big.fa
printf 'species_name\tFASTA_file_name\nbig\tbig.fa\n' >all.txt

start() {  # start DIR: a run into DIR's output directories, in the background
  mkdir -p "$1/status" "$1/dup" "$1/fasta"
  "$tool" -w 1 -s "$1/status" -d "$1/dup" -o "$1/fasta" all.txt all.txt >"$1.log" &
}
run() {  # run DIR: a whole run into DIR's output directories
  start "$1"
  wait $! || fail "run into $1 failed: $(cat "$1.log")"
}
run reference

temporaries() {
  local found
  found=(killed/*/.tn*)
  echo ${#found[@]}
}
# Killed once the FASTA temporary, staged last, holds part of the species.
writing() {
  local found
  found=(killed/fasta/.tn*)
  ((${#found[@]} == 1)) && [[ -s ${found[0]} ]]
}
for _ in 1 2 3 4 5; do
  rm -rf killed
  start killed
  deadline=$((SECONDS + 20))
  until writing || ((SECONDS > deadline)); do :; done
  kill -KILL $! 2>/dev/null || true
  code=0
  wait $! || code=$?
  if ((code == 137)); then break; fi  # else the species was complete before the kill: again
done
((code == 137)) || fail "no run was killed while writing"
leftovers=$(temporaries)
((leftovers == 3)) || fail "$leftovers temporaries left by the killed run, not 3"

run killed
(($(temporaries) == 3)) || fail "fresh temporaries were removed"
touch -d '11 minutes ago' killed/*/.tn*
run killed
(($(temporaries) == 0)) || fail "old temporaries of the killed run are left"
diff -r reference killed || fail "outputs differ from an uninterrupted run's"
echo "stale temporaries: $leftovers removed"

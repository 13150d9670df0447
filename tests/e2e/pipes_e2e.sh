#!/usr/bin/env bash
# The tool fed through pipes as a shell user feeds it: the full list by process substitution,
# and a compressed FASTA file decompressed on the fly through a descriptor that the list names.
# Everything must come out exactly as from regular files.
set -euo pipefail
tool=${TARNEL:?TARNEL must name the tool binary}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A few megabytes with CR LF line ends, repeated sequences and an active species.
awk 'BEGIN {
  for (k = 0; k < 6000; k++) {
    m = k % 2000  # every sequence three times
    printf ">P%d protein %d\r\n", k % 4000, k
    residue = substr("MKVLAGHST", m % 9 + 1, 1)
    line = ""
    for (i = 0; i < 61; i++) line = line residue
    for (i = 0; i < 8 + m % 7; i++) printf "%s\r\n", line
    printf "%s%d\r\n", residue, m
  }
}' >a.fa
printf '>B1\nMKV\n>B2\nMKV\n' >b.fa
gzip -c a.fa >a.fa.gz
printf 'species_name\tFASTA_file_name\nb\tb.fa\n' >active.txt

run() {  # run OUTPUT-DIR ARGUMENTS...: the console after the banner goes to OUTPUT-DIR/console
  local out=$1
  shift
  mkdir -p "$out/status" "$out/dup" "$out/fasta"
  local code=0
  "$tool" -w 1 -s "$out/status" -d "$out/dup" -o "$out/fasta" "$@" >"$out.log" || code=$?
  if ((code != 0)); then
    cat "$out.log" >&2
    echo "exit code $code" >&2
    exit 1
  fi
  tail -n +4 "$out.log" >"$out/console"
}

mkdir protein
cp a.fa b.fa protein/
printf 'species_name\tFASTA_file_name\na\ta.fa\nb\tb.fa\n' >all.txt
run files -i protein active.txt all.txt

exec 7< <(gzip -dc a.fa.gz)
run pipes -i '' active.txt <(printf 'species_name\tFASTA_file_name\na\t/dev/fd/7\nb\tb.fa\n')
exec 7<&-

if ! diff -r files pipes; then
  echo "output from pipes differs from output from files" >&2
  exit 1
fi
grep -q 'proteins written' pipes/console || { echo "no species was processed" >&2; exit 1; }
echo "pipes: outputs identical"

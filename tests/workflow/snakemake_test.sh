#!/usr/bin/env bash
# The bundled example workflow under snakemake, one tarnel job per species: every species'
# files must equal those of one full run, each job must report its species as done, and a
# broken FASTA file must fail the workflow with that species named in its output.
# Usage: snakemake_test.sh TARNEL_BINARY
set -euo pipefail
tool=$(realpath "${1:?usage: snakemake_test.sh TARNEL_BINARY}")
examples=$(cd "$(dirname "$0")/../../examples" && pwd)
command -v snakemake >/dev/null || { echo "snakemake_test: snakemake is missing" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "snakemake_test: FAILED: $*" >&2
  exit 1
}

# Inputs only: the example's output directories may hold the files of an earlier run.
for copy in full flow; do
  mkdir "$work/$copy"
  cp -r "$examples"/{active_species.txt,all_species.txt,protein,workflow} "$work/$copy/"
done
mkdir "$work"/full/{status,dup,fasta}
(cd "$work/full" && "$tool" -w 1 active_species.txt all_species.txt >console) ||
  fail "the full run"
species=$(awk 'NR > 1 && !/^([#;]|\r?$)/' "$work/full/all_species.txt" | wc -l)

flow() { (cd "$work/flow" && snakemake -j 2 --config "tarnel=$tool") >"$work/flow.log" 2>&1; }
flow || { cat "$work/flow.log" >&2; fail "the workflow"; }
for dir in status dup fasta; do
  written=$(find "$work/full/$dir" -type f | wc -l)
  [[ $written == "$species" ]] || fail "the full run wrote $written $dir files, not $species"
  diff -r "$work/full/$dir" "$work/flow/$dir" >&2 || fail "$dir/ differs from the full run's"
done
done=$(awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "status") c = i; next }
                   c && $c == "ok"' "$work/flow/run_report.tsv" | wc -l)
[[ $done == "$species" ]] || fail "run_report.tsv has $done species done, not $species"
echo "snakemake_test: $species jobs, every file as the full run's"

# An empty line inside a record breaks the yeast file; only that species runs again.
fasta=$work/flow/protein/yeast.fa
awk 'NR == 3 { print "" } 1' "$fasta" >"$fasta.new" && mv "$fasta.new" "$fasta"
if flow; then fail "the workflow succeeded with a broken FASTA file"; fi
if ! grep -q '^Saccharomyces_cerevisiae\.\.\. .*empty line 3' "$work/flow.log" ||
  [[ $(grep -c '^Error in rule species' "$work/flow.log") != 1 ]]; then
  cat "$work/flow.log" >&2
  fail "the failure does not name the broken species alone"
fi
echo "snakemake_test: the broken species fails the workflow, named"

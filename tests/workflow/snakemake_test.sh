#!/usr/bin/env bash
# The bundled example workflow under snakemake, one tarnel job per species: every species'
# files must equal those of one full run, each job must report its species as done, and a
# broken FASTA file must fail the workflow with that species named in its output.
# Usage: snakemake_test.sh TARNEL_BINARY
set -euo pipefail
tool=$(realpath "$1") examples=$(dirname "$0")/../../examples work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { cat "$work/log" >&2; echo "snakemake_test: FAILED: $*" >&2; exit 1; }
# Inputs only: the example's output directories may hold the files of an earlier run.
for copy in full flow; do
  mkdir "$work/$copy" && cp -r "$examples"/{*_species.txt,protein,workflow} "$work/$copy/"
done
mkdir "$work"/full/{status,dup,fasta}
(cd "$work/full" && "$tool" -w 1 active_species.txt all_species.txt) >"$work/log" || fail "full run"
flow() { (cd "$work/flow" && snakemake -j 2 --config "tarnel=$tool") >"$work/log" 2>&1; }
flow || fail "the workflow"
diff -r -x .snakemake -x logs -x reports -x run_report.tsv "$work/full" "$work/flow" >&2 ||
  fail "the workflow's files differ from the full run's"
[[ $(cut -f 3 "$work/flow/run_report.tsv" | grep -cx ok) == $(ls "$work/full/status" | wc -l) ]] ||
  fail "run_report.tsv does not have every species done"

# An empty line inside a record breaks the yeast file; only that species runs again.
sed -i '3s/^/\n/' "$work/flow/protein/yeast.fa"
! flow || fail "the workflow succeeded with a broken FASTA file"
grep -q '^Saccharomyces_cerevisiae\.\.\. .*empty line 3' "$work/log" &&
  [[ $(grep -c '^Error in rule species' "$work/log") == 1 ]] || fail "not the broken species alone"

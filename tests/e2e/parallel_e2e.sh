#!/usr/bin/env bash
# The built tool with several species in flight against one species after the other: the same
# console (the banner aside) and the same files, on the bundled collection and on generated
# ones where species fail, a name is listed twice and outputs land where later species read.
# Then a run stopped (SIGTERM: a background job ignores SIGINT) with several species in flight
# leaves no temporary behind.
# Usage: TARNEL=path/to/tarnel tests/e2e/parallel_e2e.sh EXAMPLES_DIR
set -euo pipefail
tool=${TARNEL:?TARNEL must name the tool binary}
examples=$(cd "${1:?the examples directory}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# same NAME ARGUMENTS...: runs a copy of $work/case with --jobs 1 and with --jobs 4.
same() {
  local name=$1 jobs
  shift
  for jobs in 1 4; do
    rm -rf "$work/jobs$jobs"
    cp -a "$work/case" "$work/jobs$jobs"
    (cd "$work/jobs$jobs" && "$tool" --jobs "$jobs" "$@" | tail -n +4 >"$work/console$jobs")
  done
  if ! diff "$work/console1" "$work/console4" || ! diff -r "$work/jobs1" "$work/jobs4"; then
    echo "FAIL: $name: --jobs 4 differs from --jobs 1"
    failures=$((failures + 1))
  fi
}

cp -a "$examples" "$work/case"
rm -rf "$work"/case/{status,dup,fasta}/*
same "bundled collection" -w 1 active_species.txt all_species.txt

# Thirty species, every third compressed, with copies. Big_3 follows Big_2 under the same name,
# and Reader reads what Big_2's second entry writes through the link out -> protein.
rm -rf "$work/case"
mkdir -p "$work/case/protein" "$work/case/status" "$work/case/dup"
cd "$work/case"
ln -s protein out
printf '%s\n' species_name$'\t'FASTA_file_name $'Writer\ts28.fa' $'Reader\tWriter.fa' \
  $'Twice\ts29.fa' $'Twice\ts1.fa' >all.txt
for s in $(seq 0 29); do
  awk -v s="$s" 'BEGIN {
    for (p = 0; p < (s < 28 ? 200 + 50 * s : 20000); p++) {
      printf ">S%d_%d protein %d\n", s, p, p
      for (i = 0; i < 1 + (p * 7 + s) % 5; i++) printf "%s\n", substr("MKVLAGHSTWYQ", (p + i) % 12 + 1, 5 + p % 40)
    }
  }' >protein/s$s.fa
  if ((s % 3 == 0)); then gzip protein/s$s.fa && mv protein/s$s.fa.gz protein/s$s.fa; fi
  printf 'S%s\ts%s.fa\n' "$s" "$s" >>all.txt
done
printf '>A\n\n>B\nMK\n' >protein/bad.fa
printf '%s\n' $'Missing\tmissing.fa' $'Bad\tbad.fa' >>all.txt
printf 'species_name\tFASTA_file_name\nS4\ts4.fa\n' >active.txt
same "generated collection" -w 1 -o out/ -p .fa -s status/../status active.txt all.txt
grep -q 'Species_OK:34  Errors:2' "$work/console4" || {
  echo "FAIL: generated collection: unexpected summary"
  tail -3 "$work/console4"
  failures=$((failures + 1))
}

# A console whose reader goes away ends the run as SIGPIPE does, whichever thread writes.
for bytes in 200 1000 2000; do
  status=0
  "$tool" --jobs 4 -w 1 -o out/ -p .fa active.txt all.txt 2>"$work/err" | head -c "$bytes" >/dev/null ||
    status=${PIPESTATUS[0]}
  if ((status != 141)) || [[ -s $work/err ]]; then
    echo "FAIL: reader gone after $bytes bytes: exit status $status, $(cat "$work/err")"
    failures=$((failures + 1))
  fi
done

# Three species of some 20 MB: the run is interrupted once temporaries are there.
rm -rf "$work/case"
mkdir -p "$work/case/protein" "$work/case/status" "$work/case/dup" "$work/case/fasta"
cd "$work/case"
printf 'species_name\tFASTA_file_name\n' >all.txt
for s in 1 2 3; do
  seq 1 800000 | sed "s/.*/>p&\nMKVLAGHST&/" >protein/s$s.fa
  printf 'S%s\ts%s.fa\n' "$s" "$s" >>all.txt
done
"$tool" --jobs 3 -w 1 all.txt all.txt >/dev/null &
pid=$!
seen=0
for _ in $(seq 1 2000); do
  if compgen -G '*/.tn*' >/dev/null; then
    seen=1
    kill -TERM "$pid"
    break
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.005
done
status=0
wait "$pid" || status=$?
if ((seen)); then
  if ((status != 143)) || compgen -G '*/.tn*' >/dev/null; then
    echo "FAIL: interrupted run: exit status $status, left: $(echo */.tn*)"
    failures=$((failures + 1))
  fi
else
  echo "interrupted run: no temporary seen in time, not checked"
fi

((failures == 0)) && echo "parallel runs: identical to one species after the other"
((failures == 0))

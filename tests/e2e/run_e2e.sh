#!/usr/bin/env bash
# The built tool among real processes and files: lists and a gzip file through pipes, species in
# flight together on a real file system, a console reader that goes away, Ctrl-C, and a kill
# that leaves temporaries behind for the next run to remove.
# Usage: TARNEL=path/to/tarnel run_e2e.sh
set -euo pipefail
shopt -s nullglob
set -m  # background runs take SIGINT as a foreground one would
tool=${TARNEL:?TARNEL must name the tool binary}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
console() { tail -n +4 "$1" | sed -E 's/[0-9]+s$/Ns/'; }  # after the banner, times masked
list() { printf 'species_name\tFASTA_file_name\n' && printf '%s\t%s\n' "$@"; }
start() { # start DIR ARGUMENTS...: a run into DIR's output directories, in the background
  mkdir -p "$1"/{status,dup,fasta}
  "$tool" -w 1 -s "$1/status" -d "$1/dup" -o "$1/fasta" "${@:2}" >"$1.log" &
}
run() { start "$@" && { wait $! || fail "run into $1: $(cat "$1.log")"; }; }

# One species of some 50 MB with CR LF ends and copies, so that writing it takes a while.
mkdir protein
awk 'BEGIN {
  srand(1)
  for (i = 0; i < 4000; i++) pool = pool substr("ACDEFGHIKLMNPQRSTVWY", int(rand() * 20) + 1, 1)
  for (k = 0; k < 160000; k++) {
    if (k % 10 != 1) s = substr(pool, int(rand() * 3500) + 1, 100 + int(rand() * 400))
    printf ">P%d\r\n", k
    for (i = 1; i <= length(s); i += 60) printf "%s\r\n", substr(s, i, 60)
  }
}' >protein/big.fa
printf '>B1\nMKV\n>B2\nMKV\n' >protein/b.fa
list big big.fa b b.fa >all.txt
list b b.fa >active.txt

# The full list by process substitution, the large species decompressed on the fly.
run files active.txt all.txt
gzip -1c protein/big.fa >big.fa.gz
exec 7< <(gzip -dc big.fa.gz)
run pipes -i "" <(list b protein/b.fa) <(list big /dev/fd/7 b protein/b.fa)
exec 7<&-
diff -r files pipes || fail "the outputs from pipes differ"
diff <(console files.log) <(console pipes.log) || fail "the console differs with pipes"

# Species in flight together keep the order of those that share a file, here through a link:
# Reader reads the FASTA file that big writes over its own input.
list big big.fa Reader big.fa b b.fa >linked.txt
for jobs in 1 4; do
  mkdir -p jobs$jobs/status jobs$jobs/dup && cp -r protein jobs$jobs/ && ln -s protein jobs$jobs/out
  (cd jobs$jobs && "$tool" --jobs $jobs -w 1 -o out/ -p .fa -s status/../status ../linked.txt \
    ../linked.txt >log && console log >console && rm log)
done
diff -r jobs1 jobs4 || fail "--jobs 4 differs from --jobs 1"

# A console whose reader goes away ends the run as SIGPIPE does, whichever thread writes.
code=0
"$tool" --jobs 2 all.txt all.txt 2>err | head -c 100 >/dev/null || code=${PIPESTATUS[0]}
((code == 141)) && [[ ! -s err ]] || fail "reader gone: exit status $code, $(cat err)"

# stop SIGNAL DIR ARGUMENTS...: a run into DIR, stopped while it writes the FASTA temporary, the
# last one staged; again when the species was done first.
stop() {
  for _ in 1 2 3 4 5; do
    start "${@:2}"
    local deadline=$((SECONDS + 20)) found=()
    until ((${#found[@]} == 1)) && [[ -s ${found[0]} ]] || ((SECONDS > deadline)); do
      found=("$2"/fasta/.tn*)
    done
    kill "-$1" $! 2>/dev/null || true
    code=0
    wait $! || code=$?
    # A kill that lands after the files were published (a slow exit, as under a sanitizer)
    # did not stop the run while it wrote: try again.
    ((code == 0)) || [[ $1 == KILL && $(temporaries "$2") == 0 ]] || return 0
  done
  fail "no run was stopped by SIG$1 while writing"
}
temporaries() { echo $(($(ls -A "$1"/* | grep -c '^\.tn') + 0)); }

# Ctrl-C: the temporaries go, the files of the run before stay as they were.
run killed -r 0 --jobs 1 active.txt all.txt
cp -r killed before
stop INT killed --jobs 1 active.txt all.txt
((code == 130)) || fail "exit status $code after SIGINT"
diff -r before killed || fail "SIGINT left files other than the run before's"

# SIGKILL leaves the temporaries; the next run keeps them while they are fresh, removes them
# once they are old, and its outputs are whole.
stop KILL killed --jobs 1 active.txt all.txt
(($(temporaries killed) == 3)) || fail "$(temporaries killed) temporaries after SIGKILL, not 3"
run killed active.txt all.txt
(($(temporaries killed) == 3)) || fail "fresh temporaries were removed"
touch -d '11 minutes ago' killed/*/.tn*
run killed active.txt all.txt
(($(temporaries killed) == 0)) || fail "old temporaries are left"
diff -r files killed || fail "the outputs differ from an uninterrupted run's"
echo "end-to-end runs passed"

#!/usr/bin/env bash
# Runs the built tool as a user would, in a scratch directory, and checks its exit code and
# everything it prints, byte for byte. Nothing may go to standard error.
# Usage: TARNEL=path/to/tarnel tests/e2e/run_e2e.sh
set -uo pipefail

tarnel=${TARNEL:?TARNEL must name the tarnel binary}
tarnel=$(cd "$(dirname "$tarnel")" && pwd)/$(basename "$tarnel")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnel-e2e.XXXXXX")
trap 'chmod -R u+rwx "$scratch"; rm -rf "$scratch"' EXIT
want=$scratch/want
got=$scratch/got
failures=0
checks=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect NAME CODE COMMAND...: runs COMMAND in the current directory and compares its exit code
# and its standard output with the file $want.
expect() {
  local name=$1 code=$2
  shift 2
  checks=$((checks + 1))
  local status=0
  # A hang is a failure too.
  timeout 60 "$@" >"$got" 2>"$scratch/err" || status=$?
  if [[ $status != "$code" ]]; then
    fail "$name: exit code $status, expected $code"
  fi
  if ! cmp -s "$want" "$got"; then
    fail "$name: console output differs (expected, then actual)"
    diff <(od -An -c "$want") <(od -An -c "$got") | head -20
  fi
  if [[ -s $scratch/err ]]; then
    fail "$name: wrote to standard error"
    head -5 "$scratch/err"
  fi
}

# expect_file NAME EXPECTED_FILE ACTUAL_FILE
expect_file() {
  checks=$((checks + 1))
  if [[ ! -f $3 ]]; then
    fail "$1: $3 missing"
  elif ! cmp -s "$2" "$3"; then
    fail "$1: $3 differs (expected, then actual)"
    diff <(od -An -c "$2") <(od -An -c "$3") | head -20
  fi
}

# The banner line for these arguments, between its two empty lines.
banner() {
  printf '\ntarnel v1.10:'
  if (($#)); then printf ' %s' "$@"; fi
  printf '\n\n'
}

heading() { printf '%-36s' "$1..."; }
copy_statistics() { printf ' p=%-6s dup=%-5s max=%-2s grp=%-5s' "$@"; }
written() { printf '%6s of %6s proteins written in ' "$@"; }
status_line() { printf '%7s %6s %5s %s\n' "$@"; }
summary() { printf '\nLines:%s  Species_OK:%s  Errors:%s  Time:%sm\n' "$@"; }

# ---------------------------------------------------------------------------------------------
# The command line.

mkdir "$scratch/lists"
cd "$scratch/lists" || exit 1
printf 'species_name\tFASTA_file_name\n' >header_only.txt

cp "$here/usage.txt" "$want"
expect "no argument" 0 "$tarnel"
expect "question mark first" 0 "$tarnel" '?' header_only.txt header_only.txt
expect "/h first" 0 "$tarnel" /h
expect "-help first" 0 "$tarnel" -help -x
{ banner /home/lists.txt missing.txt; echo "Bad or missing list of all species missing.txt"; } >"$want"
expect "an absolute first path is a list, not a help request" 2 "$tarnel" /home/lists.txt missing.txt

{ banner header_only.txt header_only.txt -H -x; cat "$here/usage.txt"; } >"$want"
expect "help option after the lists" 0 "$tarnel" header_only.txt header_only.txt -H -x

{ banner header_only.txt header_only.txt -i; echo "Missing input path"; } >"$want"
expect "missing value" 1 "$tarnel" header_only.txt header_only.txt -i

{ banner -r 1 -x a b; echo "Unknown option x"; } >"$want"
expect "unknown option" 1 "$tarnel" -r 1 -x a b

{ banner a - b; printf 'Unknown option \0\n'; } >"$want"
expect "lone dash" 1 "$tarnel" a - b

{ banner header_only.txt; echo "Two lists of species must be specified"; } >"$want"
expect "one list" 1 "$tarnel" header_only.txt

{
  banner -r abc header_only.txt header_only.txt third
  echo "Extra argument third ignored"
  echo "Number of species to activate: 0 of 0"
  summary 2 0 0 0
} >"$want"
expect "third positional argument" 0 "$tarnel" -r abc header_only.txt header_only.txt third

# The name comes from the path the tool was started by: no directory, no last extension.
ln -s "$tarnel" tarnel.old.exe
{ printf '\ntarnel.old v1.10: -q\n\n'; echo "Unknown option q"; } >"$want"
expect "program name from the start path" 1 ./tarnel.old.exe -q

# ---------------------------------------------------------------------------------------------
# Species lists that cannot be used.

printf 'h\nA\ta.fa\n' >master.txt
mkdir a_directory
printf 'h\nA\ta.fa\n' >unreadable.txt
chmod 000 unreadable.txt

{ banner header_only.txt missing.txt; echo "Bad or missing list of all species missing.txt"; } \
  >"$want"
expect "master list missing" 2 "$tarnel" header_only.txt missing.txt

{ banner missing.txt master.txt; echo "Bad or missing list of active species, missing.txt"; } \
  >"$want"
expect "active list missing" 2 "$tarnel" missing.txt master.txt

{ banner master.txt a_directory; echo "Bad or missing list of all species a_directory"; } >"$want"
expect "master list is a directory" 2 "$tarnel" master.txt a_directory

{ banner a_directory master.txt; echo "Bad or missing list of active species, a_directory"; } \
  >"$want"
expect "active list is a directory" 2 "$tarnel" a_directory master.txt

if [[ $(id -u) == 0 ]]; then
  echo "skipped: unreadable list (root reads every file)"
else
  { banner master.txt unreadable.txt; echo "Bad or missing list of all species unreadable.txt"; } \
    >"$want"
  expect "master list unreadable" 2 "$tarnel" master.txt unreadable.txt
fi

# An endless line without a line feed must stop at the limit, not fill the memory.
{ banner master.txt /dev/zero; echo "Failed at line 1"; } >"$want"
expect "endless master list" 2 "$tarnel" master.txt /dev/zero

{
  printf 'h\n'
  printf 'A\t%s\n' "$(head -c 65533 /dev/zero | tr '\0' x)"
  printf 'B\t%s\n' "$(head -c 65534 /dev/zero | tr '\0' x)"
} >long_line.txt
{ banner header_only.txt long_line.txt; echo "Failed at line 3"; } >"$want"
expect "line longer than 65,535 bytes" 2 "$tarnel" header_only.txt long_line.txt

printf 'h\nA\ta.fa\n\n# comment\nB\t\r\n' >no_file_name.txt
{ banner header_only.txt no_file_name.txt; echo "no file name in line 5"; } >"$want"
expect "entry without file name" 3 "$tarnel" header_only.txt no_file_name.txt

printf 'h\r\n;\r\nA a.fa\r\n' >no_tab.txt
{ banner no_tab.txt master.txt; echo "no 2nd field in line 3"; } >"$want"
expect "active entry without tab" 3 "$tarnel" no_tab.txt master.txt

printf 'h\nA\ta.fa \n' >other_file_name.txt
{ banner other_file_name.txt master.txt; echo "Species A disagrees with master list"; } >"$want"
expect "active entry not in the master list" 4 "$tarnel" other_file_name.txt master.txt

{ banner /dev/null /dev/null; echo "Number of species to activate: 0 of 0"; summary 1 0 0 0; } \
  >"$want"
expect "zero-byte lists" 0 "$tarnel" /dev/null /dev/null

# Binary garbage: every byte value, in rising and in falling order, 300 times over.
rising=$(printf '\\%03o' {0..255})
falling=$(printf '\\%03o' {255..0})
for _ in {1..300}; do printf "$rising"; done >rising.bin
for _ in {1..300}; do printf "$falling"; done >falling.bin

# Line 2 holds the bytes 11 to 255 and then a NUL that hides the tab after it.
{ banner header_only.txt rising.bin; echo "no 2nd field in line 2"; } >"$want"
expect "binary master list" 3 "$tarnel" header_only.txt rising.bin
{ banner rising.bin master.txt; echo "no 2nd field in line 2"; } >"$want"
expect "binary active list" 3 "$tarnel" rising.bin master.txt

# Here every line after the header is a tab, the bytes 8 down to 1 and a NUL: 300 entries with
# an empty name and the same odd file name, which no input directory holds.
odd_name=$(printf '\010\007\006\005\004\003\002\001')
{
  banner falling.bin falling.bin
  echo "Number of species to activate: 300 of 300"
  for _ in {1..300}; do
    heading ""
    echo "can't open input file protein/$odd_name"
  done
  summary 301 0 300 0
} >"$want"
expect "binary lists that parse" 0 "$tarnel" falling.bin falling.bin

# Whatever a machine-code file holds, the tool ends with one of its own outcomes.
checks=$((checks + 1))
status=0
timeout 60 "$tarnel" "$tarnel" "$tarnel" >"$got" 2>"$scratch/err" || status=$?
if ((status > 4)) || [[ -s $scratch/err ]]; then
  fail "the binary as both lists: exit code $status"
fi

# ---------------------------------------------------------------------------------------------
# Whole runs over a small collection.

mkdir -p "$scratch/collection/protein" "$scratch/collection/status" "$scratch/collection/dup"
cd "$scratch/collection" || exit 1
printf 'species_name\tFASTA_file_name\n# fungi\nSaccharomyces_cerevisiae\tyeast.fa\n%b\n%b\n%b\n' \
  'Escherichia_coli\tecoli.fa\tbacteria' 'Homo_sapiens\thuman.fa' 'Mus_musculus\tmouse.fa' \
  >all_species.txt
printf 'species_name\tFASTA_file_name\r\n; new this week\r\nHomo_sapiens\thuman.fa\r\n' \
  >active_species.txt
printf '>Y1 first\nMSTNKV\n>Y2\nMA\n>Y3\nMSTNKV\n>Y4\nMSTNKV\n' >protein/yeast.fa
printf '>sp|P1|A desc\r\nMKVL\r\nAAG\r\n>P2\r\nMKV\r\n' >protein/ecoli.fa
printf '>H1\nMAAA\n>H2\nMAAA\n' >protein/human.fa

{
  banner active_species.txt all_species.txt
  echo "Number of species to activate: 1 of 4"
  heading Saccharomyces_cerevisiae && copy_statistics 4 2 2 1 && echo "  0s"
  heading Escherichia_coli && copy_statistics 2 0 0 0 && echo "  0s"
  heading Homo_sapiens && copy_statistics 2 1 1 1 && echo "  0s"
  heading Mus_musculus && echo "can't open input file protein/mouse.fa"
  summary 4 3 1 0
} >"$want"
expect "run with the defaults" 0 "$tarnel" active_species.txt all_species.txt

status_line 1 0 6 '  . ' >"$want" && status_line 3 1 2 '  . ' >>"$want"
expect_file "run with the defaults" "$want" status/Saccharomyces_cerevisiae
status_line 1 0 7 '  . ' >"$want" && status_line 4 1 3 '  . ' >>"$want"
expect_file "run with the defaults" "$want" status/Escherichia_coli
status_line 1 0 4 '....' >"$want"
expect_file "run with the defaults" "$want" status/Homo_sapiens
printf 'Y1\t2\tY3\tY4\n' >"$want"
expect_file "run with the defaults" "$want" dup/Saccharomyces_cerevisiae.tsv
: >"$want"
expect_file "run with the defaults" "$want" dup/Escherichia_coli.tsv
printf 'H1\t1\tH2\n' >"$want"
expect_file "run with the defaults" "$want" dup/Homo_sapiens.tsv
checks=$((checks + 1))
listing=$(cd "$scratch/collection" && ls -A status dup | tr '\n' ' ')
expected_listing='dup: Escherichia_coli.tsv Homo_sapiens.tsv Saccharomyces_cerevisiae.tsv  '
expected_listing+='status: Escherichia_coli Homo_sapiens Saccharomyces_cerevisiae '
if [[ $listing != "$expected_listing" ]]; then
  fail "run with the defaults: output directories hold [$listing]"
fi

# One file for both lists makes every species active; directories and extensions are completed.
mkdir out st dd
arguments=(-w 1 -r 0 -o out -p fa -s st -t txt -d dd -e .tab all_species.txt all_species.txt)
{
  banner "${arguments[@]}"
  echo "Number of species to activate: 4 of 4"
  heading Saccharomyces_cerevisiae && copy_statistics 4 2 2 1 && written 2 4 && echo "  0s"
  heading Escherichia_coli && copy_statistics 2 0 0 0 && written 2 2 && echo "  0s"
  heading Homo_sapiens && copy_statistics 2 1 1 1 && written 1 2 && echo "  0s"
  heading Mus_musculus && echo "can't open input file protein/mouse.fa"
  summary 7 3 1 0
} >"$want"
expect "run with every option" 0 "$tarnel" "${arguments[@]}"
printf '>Y1\nMSTNKV\n>Y2\nMA\n' >"$want"
expect_file "run with every option" "$want" out/Saccharomyces_cerevisiae.fa
status_line 1 0 6 '....' >"$want" && status_line 3 1 2 '....' >>"$want"
expect_file "run with every option" "$want" st/Saccharomyces_cerevisiae.txt
printf 'Y1\t2\tY3\tY4\n' >"$want"
expect_file "run with every option" "$want" dd/Saccharomyces_cerevisiae.tab
checks=$((checks + 1))
listing=$(ls -A out st dd | tr '\n' ' ')
expected_listing='dd: Escherichia_coli.tab Homo_sapiens.tab Saccharomyces_cerevisiae.tab  '
expected_listing+='out: Escherichia_coli.fa Homo_sapiens.fa Saccharomyces_cerevisiae.fa  '
expected_listing+='st: Escherichia_coli.txt Homo_sapiens.txt Saccharomyces_cerevisiae.txt '
if [[ $listing != "$expected_listing" ]]; then
  fail "run with every option: output directories hold [$listing]"
fi

echo "$checks checks, $failures failed"
((failures == 0))

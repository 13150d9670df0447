#!/usr/bin/env bash
# tarnel.exe under Wine against the native build on the bundled examples: the same exit codes,
# the same console but for CR LF line ends and times, every file byte for byte.
#   windows_e2e.sh TARNEL_EXE NATIVE_TARNEL WINE_PREFIX
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$(realpath "$1") native=$(realpath "$2") prefix=$(realpath -m "$3")
[[ -x $native ]] || { echo "no native tarnel at $2: cmake --workflow --preset test first" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"; "$root/cmake/wine-run.sh" "$prefix" --wait-for-server' EXIT
mkdir "$work/template"
cp -r "$root/examples/protein" "$root/examples/"*.txt "$work/template/"
# CR LF ends and a Ctrl-Z byte, where a reader in text mode would stop; and a list for outputs
# that replace their own inputs, which must be closed by then.
printf '>Z1 Ctrl-Z \032\r\nMKV\r\n>Z2\r\nMKV\r\n' >>"$work/template/protein/yeast.fa"
printf 'species_name\tFASTA_file_name\r\necoli\tecoli.fa\r\n' >"$work/template/self.txt"
times() { sed -E 's/ +[0-9]+s(\r?)$/ Ns\1/; s/Time:[0-9]+m/Time:Nm/'; }
failures=0 case=0
while read -r -a arguments; do
  case=$((case + 1))
  for side in native windows; do
    cp -r "$work/template" "$work/$case.$side" && mkdir "$work/$case.$side"/{status,dup,fasta}
  done
  code=0 wine_code=0
  (cd "$work/$case.native" && "$native" "${arguments[@]}") >"$work/$case.out" || code=$?
  for _ in 1 2; do  # Wine has been seen to fail to start the program on a busy machine
    wine_code=0
    (cd "$work/$case.windows" && "$root/cmake/wine-run.sh" "$prefix" "$exe" "${arguments[@]}") \
      >"$work/$case.exe.out" || wine_code=$?
    [[ -s $work/$case.exe.out ]] && break
  done
  if ((code != wine_code)) || ! diff <(sed 's/$/\r/' "$work/$case.out" | times) \
    <(times <"$work/$case.exe.out") || ! diff -r "$work/$case.native" "$work/$case.windows"; then
    echo "FAIL: ${arguments[*]} (exit codes $code natively, $wine_code under Wine)"
    failures=$((failures + 1))
  fi
done <<'EOF'
-h
-w 1 active_species.txt all_species.txt
-c 0 -r 2 -w 1 -t st -s status/ all_species.txt all_species.txt
-r 1 -u 0 -w 1 -o nodir/ active_species.txt all_species.txt
-r 0 -w 1 -o protein -p .fa self.txt self.txt
active_species.txt missing.txt
EOF
((failures == 0)) && echo "tarnel.exe matches the native build"

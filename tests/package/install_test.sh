#!/usr/bin/env bash
# "cmake --install" into a scratch prefix must lay the tool out as users and packages expect.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null

# The manual page is installed compressed, as a .gz of the page.
declare -A installed=(
  [share/man/man1/tarnel.1.gz]=doc/tarnel.1
  [share/doc/tarnel/README.md]=README.md
  [share/doc/tarnel/LICENSE]=LICENSE
)
for path in "${!installed[@]}"; do
  unpack=(cat)
  [[ $path != *.gz ]] || unpack=(gzip -dc)
  if ! cmp -s <("${unpack[@]}" "$prefix/$path" 2>/dev/null) "$source_dir/${installed[$path]}"; then
    echo "$path: missing, or not a copy of ${installed[$path]}" >&2
    exit 1
  fi
done
if [[ ! -x $prefix/bin/tarnel ]]; then
  echo "bin/tarnel: missing or not executable" >&2
  exit 1
fi
usage=$("$prefix/bin/tarnel" -h)
if ! grep -q '^Usage (v.*): tarnel \[options\]' <<<"$usage"; then
  echo "bin/tarnel -h does not print the usage text" >&2
  exit 1
fi
# Nothing but these four files: no test binary, library or header rides along, and the Debian
# package's own copyright file and changelog stay out of plain installations.
extra=$(find "$prefix" -type f | sed "s|^$prefix/||" | sort |
  grep -vxF -e bin/tarnel -e share/man/man1/tarnel.1.gz -e share/doc/tarnel/README.md \
    -e share/doc/tarnel/LICENSE) || true
if [[ -n $extra ]]; then
  printf 'unexpected files installed:\n%s\n' "$extra" >&2
  exit 1
fi

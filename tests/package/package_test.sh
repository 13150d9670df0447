#!/usr/bin/env bash
# Installation as users get it: "cmake --install" lays out the binary, the compressed manual
# page and the documents, nothing else; the page documents the options, defaults and version
# that "tarnel -h" shows, and renders without a complaint from groff -ww and man -l where they
# are at hand. With "deb" (CI: needs root, dpkg-dev, lintian, groff and man-db) the Debian
# package of BUILD_DIR too: the same checks of its files, no lintian errors; installed, it runs
# on a copy of the examples, and it is removed again. It refuses to replace an installed tarnel.
# Usage: package_test.sh BUILD_DIR [deb]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd) build=$(realpath "$1") scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package_test: FAILED: $*" >&2; exit 1; }
export LC_ALL=C.UTF-8 MANWIDTH=80

# One "letter default" line per option, and the version: from the usage text, and from the
# page, whose option entries follow .TP or .TQ and end in "Default:" and ".BR value .", or in
# "Default: none.".
usage_options() {
  awk '/^Usage \(v/ { sub(/\).*/, ""); print "version", substr($0, 9) }
    /^-/ { v = match($0, /\[[^[]*\]$/) ? substr($0, RSTART + 1, RLENGTH - 2) : "none"
      for (i = 1; $i ~ /^-./; i++) print substr($i, 2, 1), v == "" ? "empty" : v }'
}
page_options() {
  awk 'function flush() { if (letter != "") print letter, v; letter = "" }
    /^\.TH/ { match($0, /"tarnel [^"]*"/); print "version", substr($0, RSTART + 8, RLENGTH - 9) }
    /^\.SH/ { flush(); options = $0 == ".SH OPTIONS" }
    options && tag && /^\.BI? \\-[[:alpha:]?]/ { flush(); letter = substr($2, 3, 1); v = "none" }
    { tag = /^\.T[PQ]/ }
    value { v = $2; gsub(/\\/, "", v) }
    { value = /^Default:$/ }
    /^Default: none\.$/ { v = "empty" }'
}

# check_installed ROOT DOCUMENT...: what an installation under the prefix ROOT holds.
check_installed() {
  local root=$1 page=$scratch/tarnel.1
  shift
  diff <(cd "$root" && find . -type f | sort) <(printf './%s\n' bin/tarnel \
    share/man/man1/tarnel.1.gz "${@/#/share/doc/tarnel/}" | sort) >&2 || fail "files in $root"
  gzip -dc "$root/share/man/man1/tarnel.1.gz" | tee "$page" | cmp - "$source_dir/doc/tarnel.1" &&
    cmp "$root/share/doc/tarnel/README.md" "$source_dir/README.md" >&2 || fail "$root: copies"
  diff <("$root/bin/tarnel" -h | usage_options | sort) <(page_options <"$page" | sort) >&2 ||
    fail "$root: usage text (<) and manual page (>) differ"
  type -P groff man >/dev/null || return 0
  complaints=$(groff -ww -man -Tutf8 -z "$page" 2>&1; man -l "$page" 2>&1 >"$scratch/text") &&
    [[ -z $complaints && $(grep -cxE 'NAME|SYNOPSIS|DESCRIPTION|OPTIONS|EXIT STATUS|EXAMPLES' \
      "$scratch/text") == 6 ]] || fail "the manual page does not render cleanly: $complaints"
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
check_installed "$scratch/prefix" README.md LICENSE
cmp "$scratch/prefix/share/doc/tarnel/LICENSE" "$source_dir/LICENSE" >&2 || fail "LICENSE"
version=$("$scratch/prefix/bin/tarnel" -h | usage_options | sed -n 's/^version //p')
grep -qxF "set(CPACK_PACKAGE_VERSION \"$version\")" "$build/CPackConfig.cmake" ||
  fail "the package's version is not the tool's, $version"
[[ ${2:-} == deb ]] || exit 0

absent() {  # neither the package nor its files
  ! dpkg -s tarnel &>/dev/null &&
    [[ ! -e /usr/bin/tarnel && ! -e /usr/share/doc/tarnel && ! -e /usr/share/man/man1/tarnel.1.gz ]]
}
[[ $(id -u) == 0 ]] && absent || fail "needs root, and no tarnel installed"
trap 'apt-get purge -y tarnel &>/dev/null || :; rm -rf "$scratch"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/deb" >/dev/null
deb=$scratch/deb/tarnel_$version-1_$(dpkg --print-architecture).deb
dpkg-deb -x "$deb" "$scratch/unpacked"
check_installed "$scratch/unpacked/usr" README.md copyright changelog.Debian.gz
# Any error fails the test; warnings are shown.
lintian --allow-root --fail-on error --pedantic --display-info "$deb" >&2 || fail "lintian errors"

apt-get install -y -o DPkg::Lock::Timeout=60 "$deb" >/dev/null
run=$scratch/run
cp -R "$source_dir/examples" "$run" && rm -rf "$run"/{status,dup,fasta}/*
(cd "$run" && /usr/bin/tarnel -w 1 active_species.txt all_species.txt) >"$run.log" &&
  grep -q '  Species_OK:[1-9][0-9]*  Errors:0  ' "$run.log" || fail "$(cat "$run.log")"
apt-get remove -y -o DPkg::Lock::Timeout=60 tarnel >/dev/null
absent || fail "the package or its files are left after removing it"
echo "package_test: built, installed, ran and removed $(basename "$deb")"

#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it with dpkg, runs the installed
# tarnel on a copy of the bundled examples, renders its manual page and removes the package
# again, checking each step. Needs root, dpkg-dev, lintian, groff and man-db. It leaves the
# machine as it found it, and refuses to run where a tarnel is already installed rather than
# replace it.
# Usage: deb_test.sh [BUILD_DIR]   (default: build-package in the source tree)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${1:-$source_dir/build-package}

say() { echo "deb_test: $*"; }
fail() {
  echo "deb_test: FAILED: $*" >&2
  exit 1
}

# --- Preconditions -------------------------------------------------------------------------
[[ $(id -u) == 0 ]] || fail "must run as root to install the package"
for tool in cmake cpack dpkg dpkg-deb dpkg-query dpkg-shlibdeps dpkg-architecture objdump lintian \
  groff man; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done
package_status() { dpkg-query -W -f='${db:Status-Status}' tarnel 2>/dev/null || true; }
expect_no_package() {  # expect_no_package WHAT: neither the package nor any of its files
  case $(package_status) in
    "" | not-installed) ;;
    *) fail "package status $(package_status) $1" ;;
  esac
  local path
  for path in /usr/bin/tarnel /usr/share/man/man1/tarnel.1.gz /usr/share/doc/tarnel; do
    [[ ! -e $path ]] || fail "$path exists $1"
  done
}
expect_no_package "before the test; not touching it"

scratch=$(mktemp -d)
installed_here=0
cleanup() {
  if ((installed_here)) && [[ -n $(package_status) && $(package_status) != not-installed ]]; then
    dpkg --purge tarnel >/dev/null 2>&1 || echo "deb_test: could not remove tarnel" >&2
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Runs a command, showing its output only when it fails.
quietly() {
  local output
  output=$("$@" 2>&1) || {
    printf '%s\n' "$output" >&2
    fail "$*"
  }
}

# Whether dpkg is configured to leave out files under a directory, as minimal images do.
dpkg_excludes() {
  grep -qsE "^path-exclude[= ]+$1/" /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/*
}

# dpkg does not wait for its lock; another installer may hold it for a moment.
run_dpkg() {
  local output _
  for _ in {1..30}; do
    if output=$(dpkg "$@" 2>&1); then return 0; fi
    grep -qi 'lock' <<<"$output" || break
    sleep 2
  done
  printf '%s\n' "$output" >&2
  return 1
}

# --- Build the package ---------------------------------------------------------------------
say "building the package in $build_dir"
quietly cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release
quietly cmake --build "$build_dir" --parallel 2
rm -rf "$build_dir/packages"
quietly cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$build_dir/packages"
debs=("$build_dir"/packages/tarnel_*.deb)
if ((${#debs[@]} != 1)) || [[ ! -f ${debs[0]} ]]; then
  fail "expected one .deb, found: ${debs[*]}"
fi
deb=${debs[0]}
say "built $(basename "$deb")"

# --- Inspect it ----------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == tarnel ]] || fail "package name is '$(field Package)'"
version=$("$build_dir/tarnel" -h | sed -n 's/^Usage (v\([^)]*\)).*/\1/p')
[[ -n $version && $(field Version) == "$version"-* ]] ||
  fail "package version '$(field Version)' does not match the tool's version '$version'"
[[ $(field Maintainer) == "tarnel developers <tarnel@example.org>" ]] ||
  fail "maintainer is '$(field Maintainer)'"

contents=$(dpkg-deb -c "$deb")
for expected in "-rwxr-xr-x root/root ./usr/bin/tarnel" \
  "-rw-r--r-- root/root ./usr/share/man/man1/tarnel.1.gz" \
  "-rw-r--r-- root/root ./usr/share/doc/tarnel/README.md" \
  "-rw-r--r-- root/root ./usr/share/doc/tarnel/copyright" \
  "-rw-r--r-- root/root ./usr/share/doc/tarnel/changelog.Debian.gz"; do
  awk '{ print $1, $2, $6 }' <<<"$contents" | grep -qxF -- "$expected" ||
    fail "package lacks '$expected'"
done

# Every shared library the binary needs must come from a package named in Depends.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
depends=()
IFS=',' read -ra entries <<<"$(field Depends)"
for entry in "${entries[@]}"; do
  entry=${entry# }
  entry=${entry%% *}
  depends+=("${entry%:any}")
done
libraries=$(objdump -p "$build_dir/tarnel" | awk '$1 == "NEEDED" { print $2 }')
[[ -n $libraries ]] || fail "found no shared libraries in the binary"
for library in $libraries; do
  owner=$(dpkg -S "/lib/$multiarch/$library" "/usr/lib/$multiarch/$library" 2>/dev/null |
    head -n 1 | cut -d: -f1) || true
  [[ -n $owner ]] || fail "no package owns $library"
  printf '%s\n' "${depends[@]}" | grep -qxF -- "$owner" ||
    fail "$library comes from $owner, which Depends ('$(field Depends)') does not name"
done
say "Depends: $(field Depends)"

# Debian's own checks of the package: any error fails the test, warnings are shown.
lintian_report=$(lintian --allow-root --fail-on error --pedantic --display-info "$deb" 2>&1) ||
  fail "lintian finds errors in $(basename "$deb"):"$'\n'"$lintian_report"
say "lintian: ${lintian_report:-no findings}"

# --- Install -------------------------------------------------------------------------------
say "installing"
installed_here=1
run_dpkg -i "$deb" || fail "dpkg -i failed"
[[ $(package_status) == installed ]] || fail "package status after dpkg -i: $(package_status)"
[[ -x /usr/bin/tarnel ]] || fail "/usr/bin/tarnel is missing"
for path in /usr/share/doc/tarnel/README.md /usr/share/doc/tarnel/copyright; do
  [[ -f $path ]] || dpkg_excludes /usr/share/doc || fail "$path is missing"
done

# --- Run the installed tool on the bundled examples ----------------------------------------
# The same run with the binary of the build tree must write the very same files: stripping and
# installing change nothing.
copy_examples() {
  cp -R "$source_dir/examples" "$1"
  find "$1/status" "$1/dup" "$1/fasta" -mindepth 1 -delete
}
copy_examples "$scratch/installed"
copy_examples "$scratch/built"
(cd "$scratch/installed" && PATH=/usr/bin:/bin tarnel -w 1 active_species.txt all_species.txt \
  >"$scratch/console.txt") || fail "the installed tarnel exited with status $?"
(cd "$scratch/built" && "$build_dir/tarnel" -w 1 active_species.txt all_species.txt >/dev/null) ||
  fail "the built tarnel exited with status $?"
grep -qxF "tarnel v$version: -w 1 active_species.txt all_species.txt" "$scratch/console.txt" ||
  fail "no banner in the installed tarnel's output: $(cat "$scratch/console.txt")"
species=$(awk -F '\t' 'NR > 1 && $0 != "" && !/^[;#]/' "$source_dir/examples/all_species.txt" |
  wc -l)
grep -q "^Lines:[0-9]*  Species_OK:$species  Errors:0  Time:" "$scratch/console.txt" ||
  fail "the installed tarnel did not process all $species species: $(cat "$scratch/console.txt")"
for kind in status dup fasta; do
  written=$(find "$scratch/installed/$kind" -type f | wc -l)
  ((written == species)) || fail "$kind: $written files for $species species"
done
diff -r "$scratch/built" "$scratch/installed" >&2 ||
  fail "the installed and the built tarnel wrote different files"
say "the installed tarnel processed $species species"

# --- The manual page -----------------------------------------------------------------------
page=/usr/share/man/man1/tarnel.1.gz
if [[ ! -f $page ]]; then
  # Minimal images keep dpkg from unpacking manual pages; render the packaged one instead.
  dpkg_excludes /usr/share/man || fail "$page is missing"
  say "dpkg is told to leave out manual pages here; rendering the one in the package"
  dpkg-deb -x "$deb" "$scratch/unpacked"
  page=$scratch/unpacked/usr/share/man/man1/tarnel.1.gz
else
  found=$(LC_ALL=C.UTF-8 man -aw tarnel 2>/dev/null) || true
  grep -qxF "$page" <<<"$found" || fail "man -aw tarnel does not find $page: '$found'"
fi
gzip -dc "$page" >"$scratch/tarnel.1" || fail "$page is not gzip-compressed"
bash "$source_dir/tests/package/render_man.sh" "$scratch/tarnel.1" ||
  fail "the manual page does not render cleanly"
say "the manual page renders without warnings"

# --- Remove --------------------------------------------------------------------------------
say "removing"
run_dpkg -r tarnel || fail "dpkg -r failed"
expect_no_package "after dpkg -r"
installed_here=0
say "passed"

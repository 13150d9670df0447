#!/usr/bin/env bash
# The manual page must document the options, defaults and version that "tarnel -h" shows.
# Usage: man_usage_test.sh TARNEL_BINARY MAN_PAGE
set -euo pipefail
tarnel=$1
page=$2

usage=$("$tarnel" -h)

# One "letter default" line per option letter; "none" when the option has no default, "" (an
# empty default) as "empty". "-c {0|1}  : ... [1]" gives "c 1"; "-h -?     : ..." gives "h none"
# and "? none".
usage_options() {
  awk '
    /^-/ {
      value = "none"
      if (match($0, /\[[^[]*\]$/)) {
        value = substr($0, RSTART + 1, RLENGTH - 2)
        if (value == "") value = "empty"
      }
      split($0, halves, " : ")
      n = split(halves[1], words, " ")
      for (i = 1; i <= n; i++) {
        if (words[i] ~ /^-./) print substr(words[i], 2, 1), value
      }
    }'
}

# The same from the OPTIONS section of the page: option tags are the lines after .TP or .TQ
# outside .RS blocks, and each entry ends with "Default: none." or "Default:" and ".BR value .".
man_options() {
  awk '
    function unescape(text) {
      gsub(/\\-/, "-", text)
      gsub(/\\&/, "", text)
      gsub(/\\e/, "\\", text)
      return text
    }
    function flush(   i) {
      for (i = 1; i <= count; i++) print letters[i], value
      count = 0
    }
    /^\.SH / { flush(); in_options = ($0 == ".SH OPTIONS"); next }
    !in_options { next }
    /^\.RS/ { depth++; next }
    /^\.RE/ { depth--; next }
    depth == 0 && /^\.T[PQ]/ { if ($0 ~ /^\.TP/) flush(); tag_follows = 1; next }
    tag_follows {
      tag_follows = 0
      if ($1 ~ /^\.B/ && $2 ~ /^\\-./) {
        letters[++count] = substr($2, 3, 1)
        value = "none"
      }
      next
    }
    /^\.PP/ { flush(); next }
    /^Default: none\.$/ { value = "empty"; next }
    /^Default:$/ {
      getline
      if ($0 ~ /^\.BR [^ ]+ \.$/) value = unescape($2)
      else value = "unreadable default: " $0
      next
    }
    END { flush() }' "$page"
}

expected=$(printf '%s\n' "$usage" | usage_options | sort)
documented=$(man_options | sort)
if [[ -z $expected ]]; then
  echo "no options found in the usage text" >&2
  exit 1
fi
if [[ $expected != "$documented" ]]; then
  echo "options and defaults differ: usage text (-) and manual page (+)" >&2
  diff -u <(printf '%s\n' "$expected") <(printf '%s\n' "$documented") >&2 || true
  exit 1
fi

usage_version=$(printf '%s\n' "$usage" | sed -n 's/^Usage (v\([^)]*\)).*/\1/p')
page_version=$(sed -n 's/^\.TH [^"]*"tarnel \([^"]*\)".*/\1/p' "$page")
if [[ -z $usage_version || $usage_version != "$page_version" ]]; then
  echo "version differs: usage text '$usage_version', manual page '$page_version'" >&2
  exit 1
fi

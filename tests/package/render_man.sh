#!/usr/bin/env bash
# Renders a manual page the way readers will see it and fails on any complaint: groff with every
# warning enabled, then man-db's "man -l" when it is installed.
# Usage: render_man.sh MAN_PAGE
set -euo pipefail
page=$1
# A locale that every Debian system has, so that neither tool complains about the environment.
export LC_ALL=C.UTF-8 MANWIDTH=80

complaints=$(groff -ww -man -Tutf8 -z "$page" 2>&1)
if [[ -n $complaints ]]; then
  printf 'groff -ww complains about %s:\n%s\n' "$page" "$complaints" >&2
  exit 1
fi

if command -v man >/dev/null; then
  errors=$(mktemp)
  trap 'rm -f "$errors"' EXIT
  text=$(man -l "$page" 2>"$errors")
  if [[ -s $errors ]]; then
    printf 'man -l complains about %s:\n' "$page" >&2
    cat "$errors" >&2
    exit 1
  fi
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
    if ! grep -qx "$heading" <<<"$text"; then
      echo "man -l $page: no section $heading in the rendered page" >&2
      exit 1
    fi
  done
fi

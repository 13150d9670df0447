#!/usr/bin/env bash
# Runs a Windows console program under Wine, in a prefix of its own:
#   wine-run.sh PREFIX PROGRAM.exe [ARGUMENT...]
#   wine-run.sh PREFIX --wait-for-server   (returns once the prefix's wineserver has exited)
# The prefix is created on first use (a few seconds). Wine's own diagnostics are silenced and
# the .NET and HTML runtimes are never offered for installation: a console program needs
# neither, and their installers would stall a headless machine.
set -euo pipefail
if (($# < 2)); then
  echo "usage: $0 PREFIX PROGRAM.exe [ARGUMENT...] | PREFIX --wait-for-server" >&2
  exit 2
fi
prefix=$1
shift

wine=${TARNEL_WINE:-}
if [[ -z $wine ]]; then
  # Debian's wine64 loader first: the generic 'wine' wrapper complains when wine32 is absent.
  for candidate in /usr/lib/wine/wine64 wine64 wine; do
    if command -v "$candidate" >/dev/null 2>&1; then
      wine=$(command -v "$candidate")
      break
    fi
  done
fi
if [[ -z $wine ]]; then
  echo "$0: Wine is not installed (apt-get install wine64)" >&2
  exit 2
fi

mkdir -p "$prefix"
export WINEPREFIX
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='

if [[ $1 == --wait-for-server ]]; then
  # The server lingers a few seconds after the last program; waiting leaves nothing behind.
  server=$(dirname "$wine")/wineserver
  [[ -x $server ]] || server=$(command -v wineserver || true)
  if [[ -n $server ]]; then "$server" -w; fi
  exit 0
fi
exec "$wine" "$@"

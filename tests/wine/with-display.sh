#!/usr/bin/env bash
# Runs a command with an X display: as it is when DISPLAY is set, otherwise inside a virtual one
# (scripts/with-xvfb.sh).
#
#   with-display.sh WINEPREFIX COMMAND [ARGS...]
#
# Wine's server remembers whether it started with a display, so a server left running without
# one is waited for first, and the one started here is stopped before the display goes away.
set -euo pipefail
export WINEPREFIX="$1"
shift
if [ -n "${DISPLAY:-}" ] || ! command -v Xvfb >/dev/null; then
  exec "$@"
fi
wineserver -w 2>/dev/null || true
exec bash "$(dirname "${BASH_SOURCE[0]}")/../../scripts/with-xvfb.sh" bash -c '"$@"; status=$?; wineserver -w 2>/dev/null || true; exit $status' run "$@"

#!/usr/bin/env bash
# Runs a Windows program under Wine in a build tree's own prefix (never the user's ~/.wine).
#
#   wine-run.sh PREFIX PROGRAM [ARGS...]
#   wine-run.sh --prepare PREFIX      only create the prefix when it is missing or unusable
#
# The prefix is 64-bit with its 32-bit side (drive_c/windows/syswow64), so that 64-bit and
# 32-bit programs both run in it. A prefix made before Debian's wine32 was installed lacks
# that side; it is made anew.
set -euo pipefail
# shellcheck source=wine-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-lib.sh"

prepare_only=0
if [ "${1:-}" = "--prepare" ]; then
  prepare_only=1
  shift
fi
if [ $# -lt 1 ]; then
  echo "usage: wine-run.sh PREFIX PROGRAM [ARGS...] | wine-run.sh --prepare PREFIX" >&2
  exit 2
fi
export WINEPREFIX="$1"
shift
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ -f "$WINEPREFIX/system.reg" ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
  echo "wine-run.sh: $WINEPREFIX has no 32-bit side (made before wine32 was installed);" \
    "making it anew" >&2
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  WINEARCH=win64 wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  if [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
    echo "wine-run.sh: the new prefix $WINEPREFIX has no 32-bit side: is wine32:i386" \
      "installed? (bash scripts/install-deps.sh)" >&2
    exit 1
  fi
fi
if [ "$prepare_only" = 1 ]; then
  exit 0
fi
wine "$@"

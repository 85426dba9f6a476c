#!/usr/bin/env bash
# Runs the tests of a Windows preset under Wine, in the Wine prefix private to its build tree.
# Windows need a display (message boxes among them): run it inside one, as scripts/test.sh does
# (scripts/with-xvfb.sh).
#
#   bash scripts/wine-ctest.sh PRESET [CTEST-ARGUMENTS...]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ]; then
  echo "usage: scripts/wine-ctest.sh PRESET [CTEST-ARGUMENTS...]" >&2
  exit 2
fi
preset=$1
shift

echo "== $preset tests (under Wine)"
export WINEDEBUG=-all
# A 64-bit prefix with its 32-bit side (see cmake/wine-run.sh, which makes it anew when it
# lacks that side); its wineserver is started inside this display and stopped afterwards.
export WINEPREFIX="$PWD/build/$preset/wineprefix"
# The DLL tests leave a trace of one placement there, for the simulator to replay.
export VPOLV_DLL_TRACE="$PWD/build/$preset/dll-trace.jsonl"
# ... and the records of placements that ran out of memory, one each.
export VPOLV_ALLOCATION_TRACE="$PWD/build/$preset/allocation-trace.jsonl"
# shellcheck source=../cmake/wine-lib.sh
source cmake/wine-lib.sh
wineserver -k 2>/dev/null || true
cmake/wine-run.sh --prepare "$WINEPREFIX"
# Message boxes close at once without a window manager.
wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
status=0
ctest --preset "$preset" "$@" || status=$?
wineserver -k 2>/dev/null || true
exit $status

#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/, docs/performance.md): natively on the in-memory host,
# then vpolv.dll under Wine against the fake host SDK. Prints one table each.
#
#   bench.sh [--native | --wine] [--quick] [--case NAME]...
#     --native, --wine  only that benchmark (both by default)
#     --quick           fewer and shorter rounds: a smoke run, not figures to keep
#     --case NAME       only that case (placement, finishes, scene200, scene2000); repeatable
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  sed -n '4,8s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

native=1
wine=1
options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --native) wine=0 ;;
    --wine) native=0 ;;
    --quick) options+=(--quick) ;;
    --case)
      [ $# -ge 2 ] || usage
      options+=(--case "$2")
      shift
      ;;
    *) usage ;;
  esac
  shift
done

bash scripts/install-deps.sh

if [ "$native" = 1 ]; then
  echo "== native benchmark"
  cmake --preset native >/dev/null
  cmake --build --preset native --target vpolv-bench-native
  ./build/native/bench/vpolv-bench-native "${options[@]}"
fi

if [ "$wine" = 1 ]; then
  echo "== Windows benchmark (under Wine)"
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target vpolv-bench
  # The prefix of the Windows tests (see scripts/test.sh); the benchmark shows no window, so
  # it needs no display.
  export WINEDEBUG=-all
  export WINEPREFIX="$PWD/build/windows/wineprefix"
  wineserver -k 2>/dev/null || true
  cmake/wine-run.sh --prepare "$WINEPREFIX"
  status=0
  cmake/wine-run.sh "$WINEPREFIX" build/windows/bench/vpolv-bench.exe \
    "--vpolv=$PWD/build/windows/com/vpolv.dll" "${options[@]}" || status=$?
  wineserver -k 2>/dev/null || true
  exit "$status"
fi

#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/, docs/performance.md): natively on the in-memory host,
# then vpolv.dll under Wine against the fake host SDK. Prints one table each.
#
#   bench.sh [--native | --wine] [--x64 | --x86] [--quick] [--case NAME]...
#     --native, --wine  only that benchmark (both by default)
#     --x64, --x86      under Wine, only the DLL of that bitness (both by default): the release's
#                       own files, as the presets windows and windows-x86 build them
#     --quick           fewer and shorter rounds: a smoke run, not figures to keep
#     --case NAME       only that case (placement, finishes, scene200, scene2000); repeatable
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  sed -n '4,11s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

native=1
wine=1
presets=(windows windows-x86)
options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --native) wine=0 ;;
    --wine) native=0 ;;
    --x64) presets=(windows) ;;
    --x86) presets=(windows-x86) ;;
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
  export WINEDEBUG=-all
  status=0
  for preset in "${presets[@]}"; do
    echo "== Windows benchmark under Wine: $preset (the release's DLL, build/$preset/dist/vpolv.dll)"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target vpolv-bench vpolv_release_files
    # The prefix of the preset's tests (see scripts/test.sh); the benchmark shows no window, so
    # it needs no display.
    export WINEPREFIX="$PWD/build/$preset/wineprefix"
    wineserver -k 2>/dev/null || true
    cmake/wine-run.sh --prepare "$WINEPREFIX"
    cmake/wine-run.sh "$WINEPREFIX" "build/$preset/bench/vpolv-bench.exe" \
      "--vpolv=$PWD/build/$preset/dist/vpolv.dll" "${options[@]}" || status=$?
    wineserver -k 2>/dev/null || true
  done
  exit "$status"
fi

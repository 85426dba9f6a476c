#!/usr/bin/env bash
# Builds and tests the plug-in by stage.
#
#   bash scripts/test.sh [STAGE...]   the stages named, in the order listed below (default: all)
#   bash scripts/test.sh --list       the stages, with what each one runs
#
# A stage is two lines below: `stage NAME "what it runs"` and the function stage_NAME (dashes
# in NAME become underscores). To add one, add both where it should run; a stage that needs
# more than a line or two calls a script of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=()
declare -A about
stage() {
  stages+=("$1")
  about[$1]="$2"
}

# Configures, builds and runs the tests of one preset through its workflow preset.
workflow() { cmake --workflow --preset "$1"; }

# Builds a Windows preset and runs its tests under Wine inside Xvfb (scripts/wine-ctest.sh),
# then replays the trace its DLL's tests wrote with the native simulator.
windows_stage() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  bash scripts/with-xvfb.sh bash scripts/wine-ctest.sh "$1"
  echo "== the trace written by $1's DLL, replayed by the native simulator"
  cmake --preset native >/dev/null
  cmake --build --preset native --target vpolv-sim
  ./build/native/sim/vpolv-sim replay "build/$1/dll-trace.jsonl"
  echo "== the records of $1's placements that ran out of memory, each replayed"
  local records
  records=$(grep -c . "build/$1/allocation-trace.jsonl")
  for ((k = 1; k <= records; k++)); do
    ./build/native/sim/vpolv-sim replay "build/$1/allocation-trace.jsonl" --record "$k" >/dev/null ||
      { echo "record $k of build/$1/allocation-trace.jsonl does not replay identically" >&2; return 1; }
  done
  echo "$records records, all identical"
}

stage native "g++ build; unit, golden, trace and command-line tests"
stage_native() { workflow native; }

stage native-asan "clang build under AddressSanitizer and UndefinedBehaviorSanitizer; its tests"
stage_native_asan() { workflow native-asan; }

stage fuzz "a short fixed run of the fuzz targets (scripts/fuzz.sh --ci)"
stage_fuzz() { bash scripts/fuzz.sh --ci 30 scene numbers description events trace zip; }

stage windows "64-bit build (the release's: clang, lld); core and DLL tests under Wine on the release's DLL; its trace replayed"
stage_windows() { windows_stage windows; }

stage windows-x86 "32-bit build (the release's: clang, lld); core and DLL tests under Wine on the release's DLL; its trace replayed"
stage_windows_x86() { windows_stage windows-x86; }

stage deploy "release signed with a throwaway certificate; the DLL tests on its DLLs; side-by-side and installer tests"
stage_deploy() { workflow deploy; }

stage windows-sim "vpolv-sim.exe of both release builds, and docs/support.md (under Wine)"
stage_windows_sim() {
  bash tests/windows-sim/windows_sim_test.sh build/deploy/release build/native/sim/vpolv-sim build/windows-sim \
    build/windows/dist/vpolv-sim.exe \
    --dll-tests x86 build/windows-x86/tests/wine/vpolv_wine_tests.exe \
    --dll-tests x64 build/windows/tests/wine/vpolv_wine_tests.exe
}

stage doctor "vpolv-sim doctor and collect on a machine with the package installed (under Wine)"
stage_doctor() {
  bash tests/deploy/doctor_test.sh build/deploy/release build/windows/dist/vpolv-sim.exe \
    build/windows-x86/dist/vpolv-sim.exe build/doctor build/windows/tests/wine
}

stage reproducible "the release built twice, in two folders (once after the deploy stage): the same files"
# After the deploy stage of the same run, its unsigned release (built in this checkout) is one
# of the two: one release build less.
stage_reproducible() {
  local unsigned=build/deploy/tests/deploy/sign/unsigned
  if [[ " ${passed[*]} " == *" deploy "* ]] && [ -f "$unsigned/SHA256SUMS" ]; then
    bash scripts/check-reproducible.sh --against "$unsigned" build/reproducible
  else
    bash scripts/check-reproducible.sh build/reproducible
  fi
}

# -- The command line --------------------------------------------------------------------------
if [ "${1:-}" = "--list" ] || [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
  for s in "${stages[@]}"; do printf '%-13s %s\n' "$s" "${about[$s]}"; done
  exit 0
fi
chosen=()
for s in "${stages[@]}"; do
  if [ $# -eq 0 ] || [[ " $* " == *" $s "* ]]; then chosen+=("$s"); fi
done
for s in "$@"; do
  if [ -z "${about[$s]:-}" ]; then
    echo "test.sh: no stage \"$s\"; the stages: ${stages[*]}" >&2
    exit 2
  fi
done

bash scripts/install-deps.sh
current=""
passed=()
trap 'status=$?; if [ $status -ne 0 ] && [ -n "$current" ]; then echo "== stage $current failed" >&2; fi' EXIT
# Each stage's time, said when it ends and summed up at the end: where a run's time goes.
took=()
for s in "${chosen[@]}"; do
  current=$s
  echo "==== stage $s: ${about[$s]}"
  started=$SECONDS
  "stage_${s//-/_}"
  took+=("$s $((SECONDS - started)) s")
  echo "==== stage $s: passed in $((SECONDS - started)) s"
  passed+=("$s")
done
current=""
echo "==== passed: ${chosen[*]}"
printf '  %s\n' "${took[@]}"
echo "  all: $SECONDS s"

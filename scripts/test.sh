#!/usr/bin/env bash
# Builds and tests the plug-in by stage.
#
#   bash scripts/test.sh [STAGE...]   the stages named (default: all), as below
#   bash scripts/test.sh --list       the stages, with what each one runs and what it follows
#
# A stage is two lines below: `stage NAME "what it runs" [STAGES IT FOLLOWS...]` and the
# function stage_NAME (dashes in NAME become underscores). To add one, add both; a stage that
# needs more than a line or two calls a script of its own.
#
# Stages run side by side, two at a time (VPOLV_TEST_JOBS), so that the second core works while
# one stage runs Wine, a configuration or a link: a stage starts once every chosen stage it
# follows has passed, the first of the list first. A stage follows those whose build tree,
# files or Wine prefix it uses; where two stages only share a build tree (the native simulator
# of the trace replays) a lock on the tree keeps their builds apart. Each stage writes to its
# log (build/test-logs/STAGE.log), printed whole when the stage ends. After a failure no stage
# starts: those running end, and every stage that failed is named.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=()
declare -A about follows
stage() {
  stages+=("$1")
  about[$1]="$2"
  follows[$1]="${*:3}"
}

# locked TREE COMMAND...: the command, while no other stage changes that build tree.
locked() {
  local tree="$1"
  shift
  mkdir -p build
  flock "build/.${tree##*/}.lock" "$@"
}

# Configures, builds and runs the tests of one preset through its workflow preset.
workflow() { locked "build/$1" cmake --workflow --preset "$1"; }

# Builds a Windows preset and runs its tests under Wine inside Xvfb (scripts/wine-ctest.sh),
# then replays the trace its DLL's tests wrote with the native simulator.
windows_stage() {
  locked "build/$1" cmake --preset "$1" >/dev/null
  locked "build/$1" cmake --build --preset "$1"
  bash scripts/with-xvfb.sh bash scripts/wine-ctest.sh "$1"
  echo "== the trace written by $1's DLL, replayed by the native simulator"
  locked build/native bash -c 'cmake --preset native >/dev/null && cmake --build --preset native --target vpolv-sim'
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

stage fuzz "a short fixed run of the fuzz targets (scripts/fuzz.sh --ci)" native-asan
stage_fuzz() { bash scripts/fuzz.sh --ci 30 scene numbers description events trace zip; }

stage windows "64-bit build (the release's: clang, lld); core and DLL tests under Wine on the release's DLL; its trace replayed"
stage_windows() { windows_stage windows; }

stage windows-x86 "32-bit build (the release's: clang, lld); core and DLL tests under Wine on the release's DLL; its trace replayed"
stage_windows_x86() { windows_stage windows-x86; }

stage deploy "release signed with a throwaway certificate; the DLL tests on its DLLs; side-by-side and installer tests" \
  windows windows-x86
stage_deploy() { workflow deploy; }

stage windows-sim "vpolv-sim.exe of both release builds, and docs/support.md (under Wine)" native deploy
stage_windows_sim() {
  bash tests/windows-sim/windows_sim_test.sh build/deploy/release build/native/sim/vpolv-sim build/windows-sim \
    build/windows/dist/vpolv-sim.exe \
    --dll-tests x86 build/windows-x86/tests/wine/vpolv_wine_tests.exe \
    --dll-tests x64 build/windows/tests/wine/vpolv_wine_tests.exe
}

stage doctor "vpolv-sim doctor and collect on a machine with the package installed (under Wine)" deploy
stage_doctor() {
  bash tests/deploy/doctor_test.sh build/deploy/release build/windows/dist/vpolv-sim.exe \
    build/windows-x86/dist/vpolv-sim.exe build/doctor build/windows/tests/wine
}

stage reproducible "the release built twice, in two folders (once after the deploy stage): the same files" deploy
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
  for s in "${stages[@]}"; do
    printf '%-13s %s%s\n' "$s" "${about[$s]}" "${follows[$s]:+ (after ${follows[$s]// /, })}"
  done
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
jobs_max="${VPOLV_TEST_JOBS:-2}"
if ! [[ "$jobs_max" =~ ^[1-9][0-9]*$ ]]; then
  echo "test.sh: VPOLV_TEST_JOBS must be a number of stages, not \"$jobs_max\"" >&2
  exit 2
fi

bash scripts/install-deps.sh
logs=build/test-logs
mkdir -p "$logs"
# Each stage runs in a process group of its own (job control on), so that an interruption of
# this script ends the stages and everything they started.
set -m
declare -A state pid_of started took_of
passed=()
failed=()
took=()
for s in "${chosen[@]}"; do state[$s]=waiting; done
stop_stages() {
  local s
  for s in "${chosen[@]}"; do
    if [ "${state[$s]}" = running ]; then kill -TERM -- "-${pid_of[$s]}" 2>/dev/null || true; fi
  done
}
trap 'stop_stages; exit 130' INT
trap 'stop_stages; exit 143' TERM
trap 'stop_stages; exit 129' HUP

# ready STAGE: every chosen stage it follows has passed.
ready() {
  local f
  for f in ${follows[$1]}; do
    if [ -n "${state[$f]:-}" ] && [ "${state[$f]}" != passed ]; then return 1; fi
  done
}
running=0
while :; do
  if [ ${#failed[@]} -eq 0 ]; then
    for s in "${chosen[@]}"; do
      if [ "$running" -lt "$jobs_max" ] && [ "${state[$s]}" = waiting ] && ready "$s"; then
        echo "==== stage $s started: ${about[$s]} (log: $logs/$s.log)"
        started[$s]=$SECONDS
        # The stage's own shell: a failing command ends it (set -e), as it ended the whole
        # script when the stages ran one after the other.
        ( "stage_${s//-/_}" ) </dev/null >"$logs/$s.log" 2>&1 &
        pid_of[$s]=$!
        state[$s]=running
        running=$((running + 1))
      fi
    done
  fi
  [ "$running" -gt 0 ] || break
  status=0
  wait -n -p ended || status=$?
  for s in "${chosen[@]}"; do
    if [ "${state[$s]}" = running ] && [ "${pid_of[$s]}" = "$ended" ]; then break; fi
  done
  running=$((running - 1))
  took_of[$s]=$((SECONDS - started[$s]))
  took+=("$s ${took_of[$s]} s")
  echo "==== stage $s: its output ($logs/$s.log)"
  cat "$logs/$s.log"
  if [ "$status" -eq 0 ]; then
    state[$s]=passed
    passed+=("$s")
    echo "==== stage $s: passed in ${took_of[$s]} s"
  else
    state[$s]=failed
    failed+=("$s")
    echo "==== stage $s: FAILED (status $status) after ${took_of[$s]} s" >&2
  fi
done

echo "==== passed: ${passed[*]}"
printf '  %s\n' "${took[@]}"
echo "  all: $SECONDS s"
if [ ${#failed[@]} -gt 0 ]; then
  not_run=()
  for s in "${chosen[@]}"; do
    if [ "${state[$s]}" = waiting ]; then not_run+=("$s"); fi
  done
  echo "== stage failed: ${failed[*]}${not_run[*]:+; not run: ${not_run[*]}}" >&2
  exit 1
fi

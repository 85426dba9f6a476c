#!/usr/bin/env bash
# The release's vpolv-sim.exe under Wine, as support uses it on Windows, and the commands of
# docs/support.md.
#
#   windows_sim_test.sh DIST NATIVE_SIM WORKDIR [EXE...] [--dll-tests ARCH TESTS...]
#     DIST        the folder of vpolv-<version>.zip (a release scripts/package.sh made)
#     NATIVE_SIM  the native vpolv-sim, whose messages and exit codes the Windows one must give
#     WORKDIR     scratch folder; the Wine prefix goes there
#     EXE         more builds of vpolv-sim.exe to test besides the zip's (the other bitness)
#     --dll-tests the DLL tests of that bitness (x86 or x64; tests/wine's vpolv_wine_tests.exe),
#                 which make the zip's DLL of that bitness write a trace of a placement
#
# For each program, the cases of tests/sim/cases.txt labelled windows: a golden case's report
# equals its golden report (line endings aside), bad input gives the native simulator's message
# and exit code; a scene and a trace in
# a folder whose name has spaces and accents work; each DLL's trace replays "identical". Then
# every command of docs/support.md's `bat` boxes runs in a Command Prompt, in order, from the
# unzipped release folder, with a DLL's trace standing for the designer's events.
set -uo pipefail

if [ $# -lt 3 ]; then
  echo "usage: windows_sim_test.sh DIST NATIVE_SIM WORKDIR [EXE...] [--dll-tests ARCH TESTS...]" >&2
  exit 2
fi
dist="$(cd "$1" && pwd)"
native="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
mkdir -p "$3"
work="$(cd "$3" && pwd)"
shift 3
programs=() traces=()
declare -A dll_tests
while [ $# -gt 0 ]; do
  if [ "$1" = --dll-tests ]; then
    dll_tests[$2]="$(cd "$(dirname "$3")" && pwd)/$(basename "$3")"
    shift 3
  else
    programs+=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")")
    shift
  fi
done
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
examples="$here/examples" golden="$here/tests/sim/golden" bad_dir="$here/tests/sim/bad"
# Wine hands the command line on in UTF-16 from the locale's encoding.
export LC_ALL=C.UTF-8
# shellcheck source=../support/checks.sh
source "$here/tests/support/checks.sh"

# The release, unzipped; its vpolv-sim.exe is tested first.
rm -rf "$work/zip"
mkdir -p "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$dist"/vpolv-*.zip)
release="$(ls -d "$work"/zip/vpolv-*)"
programs=("$release/vpolv-sim.exe" "${programs[@]}")

export HOME="$work/home" # the prefix's user folders, away from the real ones
mkdir -p "$HOME"
wine_prefix "$work/wineprefix"

# Each release DLL's trace of a placement, written as the DLL tests place a cabinet with it.
for arch in "${!dll_tests[@]}"; do
  trace="$work/dll-trace-$arch.jsonl"
  rm -f "$trace"
  VPOLV_DLL_TRACE="$trace" LC_ALL=en_US.UTF-8 wine "${dll_tests[$arch]}" \
    --vpolv="$(wine winepath -w "$release/$arch/vpolv.dll" 2>/dev/null | tr -d '\r')" \
    --gtest_filter=Events.TheTraceRecordOfAPlacement >"$work/dll-tests.txt" 2>&1
  if expect "the $arch DLL writes a trace" "0 yes" "$? $([ -s "$trace" ] && echo yes)"; then
    traces+=("$trace")
  else
    tail -20 "$work/dll-tests.txt"
  fi
done

# run PROGRAM FOLDER OUT ERR ARGS...: runs it in FOLDER, line endings made Unix's; its exit code.
run() {
  local program="$1" folder="$2" out="$3" err="$4" status
  shift 4
  if [[ "$program" == *.exe ]]; then
    (cd "$folder" && wine "$program" "$@" >"$out.raw" 2>"$err.raw")
  else
    (cd "$folder" && "$program" "$@" >"$out.raw" 2>"$err.raw")
  fi
  status=$?
  tr -d '\r' <"$out.raw" >"$out"
  tr -d '\r' <"$err.raw" >"$err"
  return $status
}

# The cases of tests/sim/cases.txt labelled windows, one a line: NAME|FOLDER|ARGUMENTS|EXIT|EXPECTED,
# the folders named. Their arguments are words without spaces.
windows_cases() {
  awk -F'|' '!/^#/ && NF >= 6 && $6 ~ /windows/ { print $1 "|" $2 "|" $3 "|" $4 "|" $5 }' \
    "$here/tests/sim/cases.txt" |
    sed "s|{root}|$here|g; s|{examples}|$examples|g; s|{golden}|$golden|g; s|{bad}|$bad_dir|g;
         s|{cases}|$here/tests/sim|g; s# *| *#|#g; s#^ *##; s# *\$##"
}

for program in "${programs[@]}"; do
  echo "== $program"
  # A golden case gives its golden report; any other the native simulator's message and exit code.
  while IFS='|' read -r name folder args status expected; do
    # shellcheck disable=SC2086 # the arguments are words without spaces
    run "$program" "$folder" "$work/out" "$work/err" $args
    got=$?
    if [[ "$expected" == "golden "* ]]; then
      file="${expected#golden }"
      expect "$name: exit code" "$status" "$got"
      expect_same "$name: the report" "${file%% & *}" "$work/out"
    else
      # shellcheck disable=SC2086
      run "$native" "$folder" "$work/want.out" "$work/want.err" $args
      expect "$name: exit code" "$?" "$got"
      expect_same "$name: the message" "$work/want.err" "$work/err"
    fi
  done < <(windows_cases)
  expect "no file left by bad input" "" "$(cd "$bad_dir" && git status --porcelain --ignored . 2>/dev/null)"

  # A scene and its trace in a folder with spaces and accents, named by its Windows path.
  folder="$work/Casos de José Ñandú"
  rm -rf "$folder"
  mkdir -p "$folder"
  cp -r "$examples/catalogs" "$folder/"
  cp "$examples/showroom.json" "$folder/escena de Núria.json"
  windows_folder="Z:${folder//\//\\}"
  run "$program" "$work" "$work/out" "$work/err" run "$windows_folder\\escena de Núria.json" \
    --event place --trace "$windows_folder\\traza.jsonl" --out "$windows_folder\\después.json"
  expect "accented folder: exit code" "0" "$?"
  sed '1s/^Scene   showroom\.json/Scene   escena de Núria.json/' \
    "$golden/showroom-place-vitrina.txt" >"$work/want"
  expect_same "accented folder: the report" "$work/want" "$work/out"
  run "$program" "$folder" "$work/out" "$work/err" replay traza.jsonl
  expect "accented folder: replay" "0 identical" "$? $(head -c 9 "$work/out")"
  run "$program" "$work" "$work/out" "$work/err" scene-from-trace "$windows_folder\\traza.jsonl" \
    --out "$windows_folder\\de la traza.json"
  expect "accented folder: scene from the trace" "0" "$?"
  run "$program" "$folder" "$work/out" "$work/err" run "de la traza.json" --event place --quiet
  run "$native" "$folder" "$work/want" "$work/err" run "de la traza.json" --event place --quiet
  expect_same "accented folder: the scene from the trace runs as natively" "$work/want" "$work/out"
  run "$program" "$folder" "$work/out" "$work/err" run "después.json" --event finishes --quiet
  expect "accented folder: the scene --out wrote" "0" "$?"

  # In a console (a terminal gives Wine one), accents show as they are, not in the console's
  # code page.
  (cd "$examples" && script -qec "wine '$program' run showroom.json --event place" "$work/console.txt" \
    >/dev/null 2>&1)
  expect "the report in a console" "yes 0" \
    "$(grep -q 'BSTR "@Rubrique.GénériqueChoixNom(,3)"' "$work/console.txt" && echo yes) \
$(grep -c 'Ã' "$work/console.txt")"

  for trace in "${traces[@]}"; do
    run "$program" "$work" "$work/out" "$work/err" replay "$trace"
    expect "replay of $trace" "0 identical" "$? $(head -c 9 "$work/out")"
  done
done

# -- docs/support.md, step by step --------------------------------------------------------------
echo "== docs/support.md"
if [ ${#traces[@]} -eq 0 ]; then
  # Without a DLL's trace, the simulator's own record of a placement stands in.
  traces=("$work/sim-trace.jsonl")
  rm -f "${traces[0]}"
  "$native" run "$examples/showroom.json" --event place --trace "${traces[0]}" >/dev/null
fi
winpath() { wine cmd /c "echo $1" 2>/dev/null | tr -d '\r'; }
unixpath() { wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }
desktop="$(unixpath "$(winpath '%USERPROFILE%')\\Desktop")"
mkdir -p "$desktop"
rm -f "$desktop"/{trace.jsonl,case.json,report.txt,case.zip}
step=0
while IFS= read -r line; do
  step=$((step + 1))
  printf '@echo off\r\n%s\r\nexit /b %%errorlevel%%\r\n' "$line" >"$work/step.bat"
  (cd "$release" && wine cmd /c "$(wine winepath -w "$work/step.bat" 2>/dev/null | tr -d '\r')" \
    </dev/null >"$work/out.raw" 2>"$work/err.raw")
  status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  want=0
  case "$line" in
    *" check "*) want="$status" && [ "$status" -le 1 ] || want="0 or 1" ;;
    # This prefix has no registration and no host folder: the doctor finds problems.
    *doctor*) want="$status" && [ "$status" -le 1 ] || want="0 or 1" ;;
    # Nor a host: collect (its input at its end, as Enter) traces no event.
    *" collect "*) want=1 ;;
  esac
  expect "support.md command $step ($line): exit code" "$want" "$status"
  case "$line" in
    "reg add \"HKCU\\Software\\vpolv\""* | "vpolv-sim.exe trace on"*)
      # The designer's events: the DLL appends to the file the switch names.
      file="$(wine reg query 'HKCU\Software\vpolv' /v TraceFile 2>/dev/null | tr -d '\r' |
        awk '$1 == "TraceFile" { $1 = $2 = ""; sub(/^ +/, ""); print }')"
      expect "support.md: the trace switch names a file in an existing folder" "yes" \
        "$([ -d "$(dirname "$(unixpath "$file")")" ] && echo yes)"
      cp "${traces[0]}" "$(unixpath "$file")"
      ;;
    "reg delete \"HKCU\\Software\\vpolv\""* | "vpolv-sim.exe trace off"*)
      expect "support.md: the trace switch is off" "1" \
        "$(wine reg query 'HKCU\Software\vpolv' /v TraceFile >/dev/null 2>&1; echo $?)"
      ;;
    *" collect "*)
      # The designer's events: the bundle gets the trace a host's placement wrote.
      expect "support.md: the bundle's path, printed last" "$(winpath '%USERPROFILE%')\Desktop\case.zip" \
        "$(tail -n 1 "$work/out")"
      python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "a") as z: z.write(sys.argv[2], "trace.jsonl")' "$desktop/case.zip" "${traces[0]}"
      ;;
    *" replay "*) expect "support.md: the replay" "identical" "$(head -c 9 "$work/out")" ;;
    *report.txt*) expect_same "support.md: report.txt is the report, in UTF-8" \
      <(tr -d '\r' <"$desktop/report.txt") \
      <(cd "$desktop" && "$native" run case.json --event place --quiet) ;;
  esac
done < <(awk '/^```bat$/ { on = 1; next } /^```/ { on = 0 } on && NF && !/^rem / { print }' \
  "$here/docs/support.md")
expect "support.md: commands run" "yes" "$([ "$step" -ge 8 ] && echo yes)"
expect "support.md: the crash dump keys are gone" "1" \
  "$(wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\Windows Error Reporting\LocalDumps\Host.exe' >/dev/null 2>&1; echo $?)"

finish windows_sim_test

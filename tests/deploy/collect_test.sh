# shellcheck shell=bash disable=SC2154
# vpolv-sim collect under Wine, sourced by doctor_test.sh on its machine (the package installed,
# $c the prefix's drive C, $work the scratch folder): a host (tests/wine's probe with the fake
# host) places a cabinet twice in the installed vpolv.dll while collect waits. For each starting
# state of the switch (none, a user value, a machine-wide value) and each ending (the time of
# --wait over, Ctrl+C, the process killed), the bundle holds exactly those two events and the
# doctor's report, replays as identical, and the switch is back as it was; a killed collect's
# leftover is noticed and put back by the next one. The bundles go into a folder with spaces and
# accents.
#
#   needs: $probe_dir (vpolv_probe.exe and vpolv_fake_host.dll of the 64-bit build)

echo "== vpolv-sim collect while a host places a cabinet"
mkdir -p "$c/probe" "$c/Casos José/2026 ñ"
cp "$probe_dir/vpolv_probe.exe" "$probe_dir/vpolv_fake_host.dll" "$c/probe/"
cases='C:\Casos José\2026 ñ'
# The switch's values as the plug-ins of both bitnesses read them.
switch_state() {
  for view in 32 64; do
    for root in HKCU HKLM; do
      command wine reg query "$root\\Software\\vpolv" /reg:$view 2>/dev/null | tr -d '\r' | grep -i 'TraceFile\|Collect'
    done
  done
}
# collect_in_background NAME WAIT: collect's output into NAME.out and .err, once it has switched
# the trace on. $collecting is the process to wait for; $collector the Windows program's own
# process, which signals must reach (Wine starts a console program through start.exe, which
# forwards neither Ctrl+C nor a kill).
collect_in_background() {
  command wine 'C:\tools\vpolv-sim.exe' collect --wait "$2" --out "$cases\\$1.zip" \
    >"$work/$1.out" 2>"$work/$1.err" &
  collecting=$!
  collector=""
  for _ in $(seq 1 150); do
    if grep -q 'the trace is on' "$work/$1.out" 2>/dev/null; then
      collector="$(pgrep -f -- "^C:[^ ]*vpolv-sim[.]exe collect .*$1[.]zip\$" | head -n 1)"
      [ -n "$collector" ] && return 0
    fi
    kill -0 "$collecting" 2>/dev/null || break
    sleep 0.2
  done
  bad "$1: collect did not switch the trace on, or its process was not found: $(cat "$work/$1.err")"
}
unzip_list() {
  python3 -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$1"
}
unzip_entry() { python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' "$1" "$2"; }

while read -r start ending; do
  name="$start-$ending"
  reg delete 'HKCU\Software\vpolv' /v TraceFile /f
  reg delete 'HKLM\Software\vpolv' /v TraceFile /f /reg:64
  case "$start" in
    user) reg add 'HKCU\Software\vpolv' /v TraceFile /t REG_EXPAND_SZ /d '%TEMP%\mine.jsonl' /f ;;
    machine) reg add 'HKLM\Software\vpolv' /v TraceFile /d 'C:\traces\everyone.jsonl' /f /reg:64 ;;
  esac
  before="$(switch_state)"
  # Long enough for the host to place its cabinets on a loaded machine: the completed rows wait
  # it out whole, the others end sooner.
  wait_seconds=$([ "$ending" = completed ] && echo 20 || echo 120)
  collect_in_background "$name" "$wait_seconds"
  placed="$(command wine 'C:\probe\vpolv_probe.exe' place 2 2>/dev/null | tr -d '\r')"
  expect "$name: the host placed the cabinet" "placed 2" "$placed"
  signalled=$SECONDS
  case "$ending" in
    ctrl-c) kill -INT "$collector" ;;
    killed) kill -KILL "$collector" ;;
  esac
  wait "$collecting" 2>/dev/null
  status=$?
  if [ "$ending" = ctrl-c ]; then
    expect "$name: Ctrl+C ended the waiting (of 120 s)" yes "$([ $((SECONDS - signalled)) -lt 60 ] && echo yes)"
  fi
  if [ "$ending" = killed ]; then
    expect "$name: a leftover switch" 1 "$(switch_state | grep -i 'TraceFile.*collect-' | sort -u | wc -l)"
    # The next collect notices the leftover, and puts back the value it remembers.
    collect_in_background "$name-next" 1
    wait "$collecting" 2>/dev/null
    expect "$name: the next collect notices the leftover" 1 "$(grep -c '^note: .*ended without switching it back' "$work/$name-next.out")"
    expect "$name: the next collect puts the switch back" "$before" "$(switch_state)"
    continue
  fi
  expect "$name: exit status" 0 "$status"
  bundle="$c/Casos José/2026 ñ/$name.zip"
  expect "$name: the bundle's path, printed last" "$cases\\$name.zip" "$(tail -n 1 "$work/$name.out" | tr -d '\r')"
  expect "$name: the switch is back as it was" "$before" "$(switch_state)"
  expect "$name: the bundle's files" "README.txt SPACE.INI doctor.json trace.jsonl versions.txt" \
    "$(unzip_list "$bundle")"
  expect "$name: the trace holds the two placements" "place place" \
    "$(unzip_entry "$bundle" trace.jsonl | python3 -c 'import json, sys; print(" ".join(json.loads(l)["event"] for l in sys.stdin))')"
  expect "$name: the doctor's report" "vpolv-sim doctor" \
    "$(unzip_entry "$bundle" doctor.json | python3 -c 'import json, sys; print(json.load(sys.stdin)["program"])')"
  expect "$name: the bundle replays" 1 \
    "$(wine 'C:\tools\vpolv-sim.exe' replay "$cases\\$name.zip" 2>&1 | tr -d '\r' | grep -c '^identical')"
  own="$(sed -n 's/^the trace is on for this user, into \(.*\)$/\1/p' "$work/$name.out" | tr -d '\r')"
  expect "$name: the collection's own trace file removed" "gone" \
    "$([ -n "$own" ] && ! [ -e "$(wine winepath -u "$own" 2>/dev/null | tr -d '\r')" ] && echo gone)"
done <<'END'
none completed
none ctrl-c
none killed
user completed
user ctrl-c
user killed
machine completed
machine ctrl-c
machine killed
END
reg delete 'HKLM\Software\vpolv' /v TraceFile /f /reg:64

# No event: exit status 1, the bundle says so.
wine 'C:\tools\vpolv-sim.exe' collect --wait 1 --out "$cases\\nothing.zip" --json \
  >"$work/nothing.json" 2>"$work/nothing.err"
expect "no event: exit status" 1 "$?"
expect "no event: the summary" "0 1" \
  "$(python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(d["events"], d["exitCode"])' "$work/nothing.json")"
expect "no event: the README says so" 1 \
  "$(unzip_entry "$c/Casos José/2026 ñ/nothing.zip" README.txt | grep -c 'no event was traced')"

#!/usr/bin/env bash
# vpolv-sim doctor under Wine, on a machine with the release's 64-bit package installed into a
# host folder that has its SPACE.INI and catalogs: every check ok, then one fault at a time,
# each named by its problem line and giving exit status 1; the 64-bit DLL in System32 seen by the
# 32-bit doctor; the trace switch into folders of several rights, each left exactly as it was;
# a drive's root and a folder deeper than 260 characters given as host folders; then vpolv-sim
# collect (collect_test.sh).
#
#   doctor_test.sh DIST SIM_X64 SIM_X86 WORKDIR PROBE_DIR
#     DIST       the folder of the release files (scripts/package.sh)
#     SIM_*      vpolv-sim.exe of each bitness
#     WORKDIR    scratch folder; the Wine prefix and the reports go there (healthy.txt, the
#                report of the healthy machine)
#     PROBE_DIR  the 64-bit build's tests/wine folder (vpolv_probe.exe, vpolv_fake_host.dll)
set -uo pipefail

if [ $# -ne 5 ]; then
  echo "usage: doctor_test.sh DIST SIM_X64 SIM_X86 WORKDIR PROBE_DIR" >&2
  exit 2
fi
dist="$(cd "$1" && pwd)"
sim_x64="$2" sim_x86="$3" probe_dir="$5"
mkdir -p "$4"
work="$(cd "$4" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
msi="$(ls "$dist"/vpolv-*-x64.msi)"
# shellcheck source=../support/checks.sh
source "$here/tests/support/checks.sh"
# shellcheck source=class_ids.sh
source "$here/tests/deploy/class_ids.sh"

wine_prefix "$work/prefix" --fresh
c="$WINEPREFIX/drive_c"
host="$c/Program Files/Host"
mkdir -p "$host" "$c/Catalogs/503" "$c/Catalogs/570" "$c/traces" "$c/tools"
space_ini='[Local]\r\nCatalogsDir=\r\n[InSitu]\r\nCatalogsDir=C:\\Catalogs\\\r\n'
printf "$space_ini" >"$host/SPACE.INI"
echo catalog >"$c/Catalogs/503/polvas10.cat"
echo catalog >"$c/Catalogs/570/polvas13.cat"
cp "$sim_x64" "$c/tools/vpolv-sim.exe"
cp "$sim_x86" "$c/tools/vpolv-sim-x86.exe"
wine msiexec /i "Z:${msi//\//\\}" INSTALLDIR='C:\Program Files\Host\' /qn
expect "the package installs" 0 "$?"
cp "$host/vpolv.dll" "$work/vpolv.dll"
installed="$(ls "$host" | tr '\n' ' ')"

clsid="HKLM\\Software\\Classes\\CLSID\\{$class_id}"
reg() { wine reg "$@" >/dev/null 2>&1; }

# doctor NAME [SIM [ARGS...]]: the report of the machine as it is now into NAME.txt; prints the
# exit status.
doctor() {
  wine "C:\\tools\\${2:-vpolv-sim.exe}" doctor "${@:3}" 2>"$work/$1.err" | tr -d '\r' >"$work/$1.txt"
  echo "${PIPESTATUS[0]}"
}
# The names of the checks with a problem, in the report NAME.txt.
problems() { sed -n 's/^  problem: \([^:]*\):.*/\1/p' "$work/$1.txt" | sort -u | tr '\n' ',' | sed 's/,$//'; }

echo "== a healthy machine"
expect "healthy: exit status" 0 "$(doctor healthy)"
expect "healthy: problems" "" "$(problems healthy)"
expect "healthy: the catalogs as the plug-in finds them" 2 \
  "$(grep -c -e 'ok       catalog 503: C:\\Catalogs\\503\\polvas10.cat' \
    -e 'ok       catalog 570: C:\\Catalogs\\570\\polvas13.cat' "$work/healthy.txt")"
expect "healthy: the 64-bit registration checked" 1 \
  "$(grep -c '^  ok       InprocServer32: HKLM.*= C:\\Program Files\\Host\\vpolv.dll$' "$work/healthy.txt")"
expect "healthy, seen by the 32-bit vpolv-sim: exit status" 0 "$(doctor healthy-x86 vpolv-sim-x86.exe)"
expect "healthy, seen by the 32-bit vpolv-sim: the same checks" \
  "$(grep -c '^  ok' "$work/healthy.txt")" "$(grep -c '^  ok' "$work/healthy-x86.txt")"
wine 'C:\tools\vpolv-sim.exe' doctor --json 2>/dev/null | tr -d '\r' >"$work/healthy.json"
expect "healthy: the JSON report" "0 0" \
  "$(python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(d["exitCode"], d["problems"])' \
    "$work/healthy.json")"

echo "== one fault at a time"
# fault NAME EXPECTED-PROBLEMS [SIM]: the doctor finds exactly these problems, with exit status 1.
fault() {
  expect "$1: exit status" 1 "$(doctor "$1" "${3:-}")"
  expect "$1: problems" "$2" "$(problems "$1")"
}

mv "$host/SPACE.INI" "$work/SPACE.INI"
fault no-space-ini "SPACE.INI,catalog 503,catalog 570"
mv "$work/SPACE.INI" "$host/SPACE.INI"

printf '[InSitu]\r\nCatalogsDir=C:\\NoCatalogs\\\r\n' >"$host/SPACE.INI"
fault missing-catalogs-folder "CatalogsDir,catalog 503,catalog 570"
printf "$space_ini" >"$host/SPACE.INI"

mv "$c/Catalogs/570/polvas13.cat" "$work/"
fault missing-catalog "catalog 570"
mv "$work/polvas13.cat" "$c/Catalogs/570/"

rm "$host/vpolv.dll"
fault dll-deleted "DLL"
cp "$work/vpolv.dll" "$host/vpolv.dll"

# The 64-bit DLL registered in the 32-bit view as well.
reg add "$clsid\\InprocServer32" /ve /d 'C:\Program Files\Host\vpolv.dll' /f /reg:32
reg add "$clsid\\InprocServer32" /v ThreadingModel /d Apartment /f /reg:32
reg add "$clsid\\TypeLib" /ve /d "{$library_id}" /f /reg:32
fault 64-bit-dll-in-32-bit-view "DLL bitness,type library"
reg delete "$clsid" /f /reg:32

# A per-user registration of the same DLL, which hides the machine's. (Wine keeps one view of
# the per-user classes: the 32-bit view has it too, with a 64-bit DLL and no win32 library.)
user="${clsid/HKLM/HKCU}"
reg add "$user\\InprocServer32" /ve /d 'C:\Program Files\Host\vpolv.dll' /f /reg:64
reg add "$user\\InprocServer32" /v ThreadingModel /d Apartment /f /reg:64
reg add "$user\\TypeLib" /ve /d "{$library_id}" /f /reg:64
fault per-user-registration "DLL bitness,per-user registration,type library"
reg delete "$user" /f /reg:64

# The 64-bit DLL and a SPACE.INI in the 64-bit System32, registered there: the 32-bit doctor,
# whose System32 is the 32-bit one, finds them all the same. Only the installer's record,
# which names the host folder, differs.
sys32="$c/windows/system32"
cp "$work/vpolv.dll" "$sys32/vpolv.dll" && printf "$space_ini" >"$sys32/SPACE.INI"
register() {
  reg add "$clsid\\InprocServer32" /ve /d "$1" /f /reg:64
  reg add "HKLM\\Software\\Classes\\TypeLib\\{$library_id}\\1.0\\409\\win64" \
    /ve /d "$1" /f /reg:64
}
register 'C:\windows\system32\vpolv.dll'
fault dll-in-system32-x86 "InstallDir" vpolv-sim-x86.exe
expect "dll-in-system32-x86: the DLL read through Sysnative" 1 \
  "$(grep -c '^  ok       DLL: C:\\windows\\system32\\vpolv.dll (.* bytes, read as C:\\windows\\Sysnative\\vpolv.dll)$' \
    "$work/dll-in-system32-x86.txt")"
fault dll-in-system32 "InstallDir"
register 'C:\Program Files\Host\vpolv.dll'
rm "$sys32/vpolv.dll" "$sys32/SPACE.INI"

echo "== the trace's folder, read and left as it was"
reg add 'HKCU\Software\vpolv' /v TraceFile /d 'C:\NoSuchFolder\trace.jsonl' /f
fault trace-folder-missing "trace"
reg add 'HKCU\Software\vpolv' /v TraceFile /d 'C:\traces\trace.jsonl' /f
# The folder's and the file's modes (Wine grants the rights they give), the exit status and the
# words of the trace line (_ for a space).
while read -r name folder file status words; do
  rm -rf "$c/traces" && mkdir "$c/traces"
  if [ "$file" != - ]; then echo '{}' >"$c/traces/trace.jsonl" && chmod "$file" "$c/traces/trace.jsonl"; fi
  find "$c/traces" -exec touch -d '2026-01-02 03:04:05' {} +
  chmod "$folder" "$c/traces"
  before="$(find "$c/traces" -printf '%p %m %s %T@\n' | sort)"
  expect "$name: exit status" "$status" "$(doctor "$name")"
  expect "$name: reported" 1 "$(grep -c "trace: on, into C:\\\\traces\\\\trace.jsonl.*${words//_/ }" "$work/$name.txt")"
  expect "$name: the trace's folder is left as it was" "$before" \
    "$(find "$c/traces" -printf '%p %m %s %T@\n' | sort)"
  chmod 755 "$c/traces"
done <<'END'
trace-new 755 - 0 this_user_can_create_the_file_in_C:
trace-appended 755 644 0 this_user_can_append_to_the_file_and_rotate_it$
trace-folder-read-only 555 - 1 cannot_create_files_in_C:
trace-file-read-only 755 444 1 cannot_append_to_the_file:
trace-not-rotated 555 666 1 can_append_to_the_file_but_not_rotate_it:
END
reg delete 'HKCU\Software\vpolv' /f

# A signed DLL (the release's, or this one signed here with a throwaway certificate), then
# the same DLL changed after signing.
if ! osslsigncode extract-signature -in "$work/vpolv.dll" -out "$work/signature.p7" >/dev/null 2>&1; then
  (cd "$work" &&
    openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
      -subj "/CN=vpolv doctor test" -addext "extendedKeyUsage=codeSigning" 2>/dev/null &&
    osslsigncode sign -certs cert.pem -key key.pem -in vpolv.dll -out signed.dll >/dev/null &&
    mv signed.dll vpolv.dll) || echo "FAILED: the DLL could not be signed"
fi
cp "$work/vpolv.dll" "$host/vpolv.dll"
expect "signed DLL: exit status" 0 "$(doctor signed)"
expect "signed DLL: reported" 1 "$(grep -c '^  ok       signature: signed; the signature verifies$' "$work/signed.txt")"
# One byte of the PE header's padding, which the signature covers.
printf '\xff' | dd of="$host/vpolv.dll" bs=1 seek=$((0x3A)) conv=notrunc 2>/dev/null
fault changed-after-signing "signature"
cp "$work/vpolv.dll" "$host/vpolv.dll"

echo "== vpolv-sim trace on, off and status, from each starting state"
user='HKCU\Software\vpolv' machine='HKLM\Software\vpolv'
# The values of a key as reg lists them, one a line with single spaces (none: nothing).
listed() { wine reg query "$@" 2>/dev/null | tr -d '\r' | awk '/^ +[^ ]+ +REG_/ { $1 = $1; print }'; }
machine_values() { listed "$machine" /reg:64; echo --; listed "$machine" /reg:32; }
# trace NAME SIM ARGS...: vpolv-sim trace ARGS into NAME.txt; prints the exit status.
trace() {
  wine "C:\\tools\\$2" trace "${@:3}" 2>"$work/$1.err" | tr -d '\r' >"$work/$1.txt"
  echo "${PIPESTATUS[0]}"
}
# A switch that a vpolv-sim run left on when killed: the user's value, and the marker of a
# process that is not running, remembering the value it replaced.
leftover() {
  reg add "$user" /v TraceFile /d 'C:\traces\collect.jsonl' /f
  reg add "$user\\Collect" /v Earlier /t REG_EXPAND_SZ /d '%SystemDrive%\traces\old.jsonl' /f
  reg add "$user\\Collect" /v File /d 'C:\traces\collect.jsonl' /f
  reg add "$user\\Collect" /v Process /t REG_DWORD /d 2147483632 /f
}
expand='TraceFile REG_EXPAND_SZ %SystemDrive%\traces\old.jsonl'
# Each row: the starting state (shell commands), a regular expression of `trace status` and one
# of `trace off` (after `trace on`), and the user's values left at the end.
while IFS='|' read -r name setup status_words off_words final; do
  for sim in vpolv-sim.exe vpolv-sim-x86.exe; do
    run="$name, $sim"
    reg delete "$user" /f
    reg delete "$machine" /v TraceFile /f /reg:64
    reg delete "$machine" /v TraceFile /f /reg:32
    eval "$setup"
    machine_before="$(machine_values)"
    expect "$run: status" "0 1" "$(trace status "$sim" status) $(grep -cE "$status_words" "$work/status.txt")" ||
      cat "$work/status.txt" "$work/status.err"
    expect "$run: on" "0 TraceFile REG_SZ C:\\traces\\new.jsonl" \
      "$(trace on "$sim" on 'C:\traces\new.jsonl') $(listed "$user" /v TraceFile)"
    expect "$run: on again" "0 1" \
      "$(trace again "$sim" on 'C:\traces\new.jsonl') $(grep -c '^The trace is on already' "$work/again.txt")"
    expect "$run: off" "0 1" "$(trace off "$sim" off) $(grep -cE "$off_words" "$work/off.txt")" ||
      cat "$work/off.txt" "$work/off.err"
    expect "$run: the user's values left" "$final" "$(listed "$user" /s | tr '\n' ';')"
    expect "$run: the machine's values untouched" "$machine_before" "$(machine_values)"
  done
done <<END
none|:|^the plug-in: +traces nothing \(no value\)$|^The trace is off for this user \(|
user|reg add "\$user" /v TraceFile /d 'C:\\traces\\old.jsonl' /f|^user value: +C:\\\\traces\\\\old\.jsonl \(REG_SZ\)|^The trace was written to C:\\\\traces\\\\new\.jsonl: not written|
expand|reg add "\$user" /v TraceFile /t REG_EXPAND_SZ /d '%SystemDrive%\\traces\\old.jsonl' /f|^user value: +%SystemDrive%\\\\traces\\\\old\.jsonl \(REG_EXPAND_SZ, read as C:\\\\traces\\\\old\.jsonl\)|^The trace is off for this user \(|
machine|reg add "\$machine" /v TraceFile /d 'C:\\traces\\m64.jsonl' /f /reg:64; reg add "\$machine" /v TraceFile /d 'C:\\traces\\m32.jsonl' /f /reg:32|^the plug-in: +of 64-bit hosts traces into C:\\\\traces\\\\m64\.jsonl \(the machine-wide value\); of 32-bit hosts traces into C:\\\\traces\\\\m32|^The machine-wide value .* of 32-bit hosts trace every user's events into C:\\\\traces\\\\m32\.jsonl|
leftover|leftover|^leftover: +HKCU\\\\Software\\\\vpolv TraceFile was switched to C:\\\\traces\\\\collect\.jsonl by vpolv-sim \(process 2147483632\)|^Put back .*: %SystemDrive%.*\(REG_EXPAND_SZ|$expand;
END
reg delete "$user" /f
# Without a file: a new one named with the date and time, in a folder made for it.
expect "on without a file" "0 1" "$(trace on-new vpolv-sim-x86.exe on) $(listed "$user" /v TraceFile |
  grep -c 'REG_SZ C:\\users\\.*\\vpolv\\trace-[0-9]\{8\}-[0-9]\{6\}\.jsonl$')"
file="$(listed "$user" /v TraceFile | cut -d' ' -f3-)"
expect "on without a file: its folder made" yes "$([ -d "$(dirname "$(wine winepath -u "$file" 2>/dev/null)")" ] && echo yes)"
expect "on without a file: prints it" 1 "$(grep -cF "$file" "$work/on-new.txt")"
reg delete "$user" /f
# The doctor names a leftover switch, in its report and its JSON.
leftover
fault trace-leftover "trace switch"
doctor trace-leftover-json vpolv-sim-x86.exe --json >/dev/null
expect "trace-leftover: in the JSON report" 1 "$(grep -c '"trace switch"' "$work/trace-leftover-json.txt")"
reg delete "$user" /f

echo "== host folders given by path"
expect "a drive's root: exit status" 1 "$(doctor drive-root vpolv-sim.exe --host-folder 'C:\')"
expect "a drive's root: named with its separator" 'host folder C:\ C:\SPACE.INI' \
  "$(sed -n -e 's/^\(host folder .*\)/\1/p' -e 's/^  problem: SPACE.INI: \(\S*\) is missing.*/\1/p' \
    "$work/drive-root.txt" | tr '\n' ' ' | sed 's/ $//')"
# 30 folders of 11 characters: past 260 characters, host and catalogs alike.
deep="Deep$(printf '\\folder-%03d' $(seq 1 30))"
mkdir -p "$c/${deep//\\//}/Catalogs/503" "$c/${deep//\\//}/Catalogs/570"
printf '[InSitu]\r\nCatalogsDir=C:\\%s\\Catalogs\r\n' "$deep" >"$c/${deep//\\//}/SPACE.INI"
cp "$c/Catalogs/503/polvas10.cat" "$c/${deep//\\//}/Catalogs/503/"
cp "$c/Catalogs/570/polvas13.cat" "$c/${deep//\\//}/Catalogs/570/"
expect "a host folder of ${#deep} characters: exit status" 0 \
  "$(doctor deep-host-folder vpolv-sim-x86.exe --host-folder "C:\\$deep")"
expect "a host folder of ${#deep} characters: its SPACE.INI and catalogs found" 4 \
  "$(grep -c -e '^  ok       SPACE.INI' -e '^  ok       CatalogsDir' -e '^  ok       catalog 5' \
    "$work/deep-host-folder.txt")"
rm -rf "$c/Deep"

expect "back to health: exit status" 0 "$(doctor healthy-again)"
expect "the host folder is left as it was" "$installed" "$(ls "$host" | tr '\n' ' ')"

# shellcheck source=collect_test.sh
source "$here/tests/deploy/collect_test.sh"
finish

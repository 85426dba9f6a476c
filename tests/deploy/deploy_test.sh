#!/usr/bin/env bash
# Deployment tests under Wine, of what scripts/package.sh wrote to dist/: both bitnesses side
# by side, registered by regsvr32 and installed by their MSI packages.
#
#   deploy_test.sh DIST PROBE_X86 PROBE_X64 WORKDIR
#     DIST       the folder of vpolv-<version>-x86.msi, vpolv-<version>-x64.msi and the zip
#     PROBE_*    tests/wine's vpolv_probe.exe of each bitness (a client: creates vpolv.Plugin,
#                lists the registry keys of vpolv as its registry view shows them)
#     WORKDIR    scratch folder; the Wine prefixes go there
#
# Each part starts from a fresh prefix. The hosts' folders are "C:\Program Files (x86)\Host"
# (32-bit) and "C:\Program Files\Host" (64-bit), each with its own SPACE.INI.
set -uo pipefail

if [ $# -ne 4 ]; then
  echo "usage: deploy_test.sh DIST PROBE_X86 PROBE_X64 WORKDIR" >&2
  exit 2
fi
dist="$(cd "$1" && pwd)"
probe_x86="$2" probe_x64="$3"
mkdir -p "$4"
work="$(cd "$4" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
version="$(basename "$(ls "$dist"/vpolv-*-x86.msi)" -x86.msi)"
version="${version#vpolv-}"
# shellcheck source=../support/checks.sh
source "$here/tests/support/checks.sh"

declare -A host_dir=([x86]='C:\Program Files (x86)\Host' [x64]='C:\Program Files\Host')
declare -A unix_dir regsvr32=([x86]='C:\windows\syswow64\regsvr32.exe'
  [x64]='C:\windows\system32\regsvr32.exe')

# A fresh prefix with both hosts' folders and the two probes.
new_prefix() {
  wine_prefix "$work/$1" --fresh
  local c="$WINEPREFIX/drive_c"
  unix_dir[x86]="$c/Program Files (x86)/Host"
  unix_dir[x64]="$c/Program Files/Host"
  for arch in x86 x64; do
    mkdir -p "${unix_dir[$arch]}"
    printf '[InSitu]\r\nCatalogsDir=C:\\Catalogs\\%s\\\r\n' "$arch" >"${unix_dir[$arch]}/SPACE.INI"
  done
  mkdir -p "$c/probe"
  cp "$probe_x86" "$c/probe/probe-x86.exe"
  cp "$probe_x64" "$c/probe/probe-x64.exe"
}

# What a client of that bitness gets: "own" (the DLL in its host's folder), "none" (no class
# for it), or what it printed otherwise.
client() {
  local out
  out="$(wine "C:\\probe\\probe-$1.exe" create 2>/dev/null | tr -d '\r')"
  case "$out" in
    "loaded ${host_dir[$1]}\\vpolv.dll") echo own ;;
    "cannot create vpolv.Plugin"*) echo none ;;
    *) echo "$out" ;;
  esac
}
# The registry keys of vpolv in both views, into FILE.x86 and FILE.x64.
keys() {
  for arch in x86 x64; do
    wine "C:\\probe\\probe-$arch.exe" keys 2>/dev/null | tr -d '\r' >"$1.$arch"
  done
}
# expect_clients DESCRIPTION X86-CLIENT X64-CLIENT (each "own" or "none")
expect_clients() {
  expect "$1: x86 client" "$2" "$(client x86)"
  expect "$1: x64 client" "$3" "$(client x64)"
}
# No vpolv key in either view, and no trace of its identifiers anywhere in the registry.
expect_no_trace() {
  keys "$work/left"
  expect "$1: keys left in the 32-bit view" "" "$(cat "$work/left.x86")"
  expect "$1: keys left in the 64-bit view" "" "$(cat "$work/left.x64")"
  wineserver -w
  expect "$1: traces in the registry files" "" \
    "$(grep -il -e 1ACCB4A4-510F-45B0-B0C3-BEC3904E68B3 -e 2935D2C5-056E-4342-9B7A-E734ACBA76BE \
      -e ACD74649-E268-4278-8F6D-C29D98795E89 -e 'vpolv' "$WINEPREFIX"/*.reg)"
}
without_interface() { grep -v '\\Interface\\' "$1" || true; }

mkdir -p "$work"
msi_x86="$dist/vpolv-$version-x86.msi" msi_x64="$dist/vpolv-$version-x64.msi"
unzip_dir="$work/zip"
rm -rf "$unzip_dir"
mkdir -p "$unzip_dir"
(cd "$unzip_dir" && cmake -E tar xf "$dist/vpolv-$version.zip")
files="$unzip_dir/vpolv-$version"

echo "== the release files"
expect "files in the zip" "NOTICE.txt deployment.md pricing-reference.md scene-format.md support.md trace-format.md vpolv-sim.exe vpolv-sim.pdb x64/vpolv.dll x64/vpolv.pdb x86/vpolv.dll x86/vpolv.pdb" \
  "$(cd "$files" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
expect "SHA256SUMS: every file of dist/, then every file of the zip" \
  "$(cd "$dist" && LC_ALL=C ls | grep -vx SHA256SUMS; cd "$unzip_dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)" \
  "$(awk '{ print $2 }' "$dist/SHA256SUMS")"
for folder in "$dist" "$unzip_dir"; do
  expect "SHA256SUMS: the sums of the files in $folder" "0" \
    "$(cd "$folder" && sha256sum --quiet --ignore-missing -c "$dist/SHA256SUMS" >/dev/null; echo $?)"
done
# A program's CodeView record names its PDB (no folder) with the PDB's GUID and age; the PDB has
# the functions and the lines of the sources.
check_symbols() {
  local program="$1" pdb="$2" source="$3" function="$4" record summary guid age
  record="$(x86_64-w64-mingw32-objdump -p "$program" | grep -o 'RSDS signature [0-9a-f]* age [0-9]* pdb [^)]*')"
  summary="$(llvm-pdbutil dump -summary "$pdb")"
  guid="$(grep -o 'GUID: {[0-9A-F-]*}' <<<"$summary" | tr -d '{}-' | sed 's/GUID: //' | tr 'A-F' 'a-f')"
  age="$(grep -o 'Age: [0-9]*' <<<"$summary" | sed 's/Age: //')"
  expect "$program: CodeView record matches its PDB" "RSDS signature $guid age $age pdb $(basename "$pdb")" "$record"
  expect "$program: no DWARF sections" "0" "$(x86_64-w64-mingw32-objdump -h "$program" | grep -c ' \.debug_')"
  expect "$program: PDB has the lines of $source" "1" \
    "$(llvm-pdbutil dump -l "$pdb" | grep -c -m 1 -F "\\$source (")"
  expect "$program: PDB has the function $function" "1" \
    "$(llvm-pdbutil dump -symbols "$pdb" | grep -c -m 1 "S_GPROC32 .* \`$function\`")"
}
for arch in x86 x64; do
  check_symbols "$files/$arch/vpolv.dll" "$files/$arch/vpolv.pdb" 'plugin\plugin.cpp' DllGetClassObject
done
check_symbols "$files/vpolv-sim.exe" "$files/vpolv-sim.pdb" 'sim\engine\replay.cpp' vpolv::sim::simulatorMain

echo "== side by side, registered by regsvr32"
new_prefix sxs
for arch in x86 x64; do
  cp "$files/$arch/vpolv.dll" "${unix_dir[$arch]}/"
done
reg() { wine "${regsvr32[$2]}" /s $1 "${host_dir[$2]}\\vpolv.dll"; }
# Each step: what it does, then what each bitness's client gets.
reg "" x86
expect_clients "x86 registered" own none
keys "$work/only-x86"
reg /u x86
expect_no_trace "x86 registered, then unregistered"
reg "" x64
expect_clients "x64 registered" none own
keys "$work/only-x64"
reg "" x86
expect_clients "both registered" own own
keys "$work/both"
reg /u x86
expect_clients "both registered, x86 unregistered" none own
keys "$work/now"
for view in x86 x64; do
  expect_same "x86 unregistered: the $view view is as with x64 alone" "$work/only-x64.$view" "$work/now.$view"
done
reg "" x86
reg /u x64
expect_clients "both registered, x64 unregistered" own none
keys "$work/now"
for view in x86 x64; do
  expect_same "x64 unregistered: the $view view is as with x86 alone" "$work/only-x86.$view" "$work/now.$view"
done
reg /u x86
expect_no_trace "both unregistered"
wineserver -k 2>/dev/null || true

echo "== installed by the MSI packages"
new_prefix msi
cp "${unix_dir[x86]}/SPACE.INI" "$work/SPACE.INI.x86"
cp "${unix_dir[x64]}/SPACE.INI" "$work/SPACE.INI.x64"
msiexec() { wine msiexec "$@" /qn; }
# Windows paths of the packages, as msiexec wants them.
win_msi_x86="Z:${msi_x86//\//\\}" win_msi_x64="Z:${msi_x64//\//\\}"

# Wine's exit status is msiexec's exit code modulo 256: 1603 (a fatal error) shows as 67.
msiexec /i "$win_msi_x86"
expect "install without INSTALLDIR: refused" "67" "$?"
expect_clients "install without INSTALLDIR" none none
expect "install without INSTALLDIR: the message says what to pass" "1" \
  "$(msiinfo export "$msi_x86" LaunchCondition | grep -c 'pass it as INSTALLDIR, e.g. msiexec /i vpolv-')"

msiexec /i "$win_msi_x86" INSTALLDIR="${host_dir[x86]}\\"
expect "x86 package installs" "0" "$?"
msiexec /i "$win_msi_x64" INSTALLDIR="${host_dir[x64]}\\"
expect "x64 package installs" "0" "$?"
expect_clients "both packages installed" own own
keys "$work/now"
for view in x86 x64; do
  expect_same "both packages: the $view view is as regsvr32 leaves it" "$work/both.$view" "$work/now.$view"
done
for arch in x86 x64; do
  expect "$arch host folder" "SPACE.INI vpolv.dll vpolv.pdb" "$(ls "${unix_dir[$arch]}" | tr '\n' ' ' | sed 's/ $//')"
done

msiexec /x "$win_msi_x86"
expect "x86 package uninstalls" "0" "$?"
expect_clients "x86 package uninstalled" none own
keys "$work/now"
expect_same "x86 package uninstalled: the x64 view is as with x64 alone" "$work/only-x64.x64" "$work/now.x64"
without_interface "$work/only-x64.x86" >"$work/want"
expect_same "x86 package uninstalled: the shared keys stay" "$work/want" "$work/now.x86"
expect "x86 host folder after uninstalling" "SPACE.INI" "$(ls "${unix_dir[x86]}")"

# An upgrade: an older x86 package, then this one, which replaces it.
old="$work/old"
rm -rf "$old"
mkdir -p "$old"
cp "$files/x86/vpolv.dll" "$files/x86/vpolv.pdb" "$old/"
(cd "$old" && "$here/packaging/build-msi.sh" x86 1.0.0 1.00 "$old/vpolv-1.00-x86.msi")
msiexec /i "Z:${old//\//\\}\\vpolv-1.00-x86.msi" INSTALLDIR="${host_dir[x86]}\\"
expect "older x86 package installs" "0" "$?"
# The versions of the installed x86 products of vpolv.
products() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:32 2>/dev/null |
    tr -d '\r' | awk '/DisplayName/ && /vpolv/ { f = 1 } f && /DisplayVersion/ { print $3; f = 0 }' |
    tr '\n' ' ' | sed 's/ $//'
}
expect "products after the older package" "1.0.0" "$(products)"
# Without INSTALLDIR: the folder of the installed version is used.
msiexec /i "$win_msi_x86"
expect "x86 package upgrades" "0" "$?"
expect "products after the upgrade" "$(msiinfo export "$msi_x86" Property | awk '$1 == "ProductVersion" { print $2 }' | tr -d '\r')" "$(products)"
expect_clients "after the upgrade" own own

for arch in x86 x64; do
  msi="win_msi_$arch"
  msiexec /x "${!msi}"
  expect "$arch package uninstalls at the end" "0" "$?"
done
for arch in x86 x64; do
  expect "$arch host folder at the end" "SPACE.INI" "$(ls "${unix_dir[$arch]}")"
  expect_same "$arch SPACE.INI untouched" "$work/SPACE.INI.$arch" "${unix_dir[$arch]}/SPACE.INI"
done
expect_no_trace "both packages uninstalled"
finish

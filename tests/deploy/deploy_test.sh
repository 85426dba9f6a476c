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
# (32-bit) and "C:\Program Files\Host" (64-bit), each with its own SPACE.INI. The commands of
# docs/deployment.md's boxes marked "run by tests/deploy/deploy_test.sh" run as written, in the
# release's folder.
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
# shellcheck source=class_ids.sh
source "$here/tests/deploy/class_ids.sh"

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
    "$(grep -il -e "$class_id" -e "$interface_id" -e "$library_id" -e 'vpolv' "$WINEPREFIX"/*.reg)"
}
without_interface() { grep -v '\\Interface\\' "$1" || true; }
# property MSI NAME: a property of a package.
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v n="$2" '$1 == n { print $2 }'; }
# has_key VIEW: whether HKLM\Software\vpolv is there in that view (32 or 64).
has_key() { wine reg query 'HKLM\Software\vpolv' "/reg:$1" >/dev/null 2>&1 && echo yes || echo no; }
# doc_box N: the commands of the Nth marked box of docs/deployment.md, each in a Command Prompt
# (exit code 0 expected), with this release's version and the x64 package's product code.
# Wine's msiexec does not implement /f with a product code: the guide's repair from the package
# file runs instead.
doc_box() {
  local n="$1" line status ran=0
  while IFS= read -r line; do
    case "$line" in "msiexec /f"*) continue ;; esac
    ran=$((ran + 1))
    line="${line//vpolv-1.01-/vpolv-$version-}"
    line="${line//\{ProductCode\}/$(product_code x64)}"
    printf '@echo off\r\n%s\r\nexit /b %%errorlevel%%\r\n' "$line" >"$work/step.bat"
    (cd "$dist" && wine cmd /c "$(wine winepath -w "$work/step.bat" 2>/dev/null | tr -d '\r')" \
      >"$work/step.out" 2>&1)
    status=$?
    expect "deployment.md: $line" 0 "$status" || tr -d '\r' <"$work/step.out"
    if declare -F after_doc_step >/dev/null; then after_doc_step "$line"; fi
  done < <(awk -v n="$n" '/^<!-- run by tests\/deploy\/deploy_test.sh -->$/ { box++; next }
    /^```bat$/ { on = box == n; next } /^```/ { on = 0; if (box == n) box++ } on && NF { print }' \
    "$here/docs/deployment.md")
  expect "deployment.md: box $n has commands" yes "$([ "$ran" -gt 0 ] && echo yes)"
}
product_code() {
  tr -d '\r' <"$dist/product-codes.txt" | awk -F'\t' -v f="vpolv-$version-$1.msi" '$1 == f { print $2 }'
}

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

echo "== the installers' tables"
# shellcheck source=../../packaging/release.conf
source "$here/packaging/release.conf"
for arch in x86 x64; do
  msi="$dist/vpolv-$version-$arch.msi"
  expect "$arch: product-codes.txt" "$(property "$msi" ProductCode) $(property "$msi" UpgradeCode)" \
    "$(product_code "$arch") $(tr -d '\r' <"$dist/product-codes.txt" | awk -F'\t' -v f="$(basename "$msi")" '$1 == f { print $3 }')"
  expect "$arch: publisher, name, no restart manager, no Change" \
    "$PUBLISHER|$CONTACT|$HELP_URL|vpolv ($([ $arch = x86 ] && echo 32 || echo 64)-bit)|Disable|1" \
    "$(for p in Manufacturer ARPCONTACT ARPHELPLINK ProductName MSIRESTARTMANAGERCONTROL ARPNOMODIFY; do
      property "$msi" "$p"; done | paste -sd'|')"
  # The old version's removal inside the transaction: right after InstallInitialize, before
  # any action that changes the machine.
  expect "$arch: RemoveExistingProducts right after InstallInitialize" "InstallInitialize RemoveExistingProducts" \
    "$(msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' | awk -F'\t' 'NR > 3 { print $3, $1 }' |
      sort -n | awk '$2 == "InstallInitialize" { getline n; print $2, substr(n, index(n, " ") + 1) }')"
  expect "$arch: the remembered folder in both sequences" "2" \
    "$(for t in InstallUISequence InstallExecuteSequence; do msiinfo export "$msi" $t; done | grep -c '^UseInstalledDir')"
done

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

# A folder that is not a host's: refused, nothing left.
mkdir -p "$WINEPREFIX/drive_c/Other"
msiexec /i "$win_msi_x64" INSTALLDIR='C:\Other\'
expect "install into a folder without SPACE.INI: refused" "67" "$?"
expect "install into a folder without SPACE.INI: nothing installed" " no no none none" \
  "$(ls "$WINEPREFIX/drive_c/Other") $(has_key 32) $(has_key 64) $(client x86) $(client x64)"
expect "install into a folder without SPACE.INI: the message names the folder" "1" \
  "$(msiinfo export "$msi_x64" LaunchCondition | grep -c 'the folder \[INSTALLDIR\] has no SPACE.INI')"

# Both packages, by the guide's commands.
doc_box 1
expect "the log where the guide says" "yes" \
  "$([ -s "$WINEPREFIX/drive_c/windows/temp/vpolv-install.log" ] && echo yes)"
# Programs and Features, and the values for detection rules.
expect "Programs and Features: the x64 entry" \
  "Contact=$CONTACT DisplayName=vpolv (64-bit) HelpLink=$HELP_URL InstallLocation=${host_dir[x64]}\\ NoModify=0x1 Publisher=$PUBLISHER" \
  "$(wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$(product_code x64)" /reg:64 2>/dev/null |
    tr -d '\r' | awk '$1 ~ /^(Contact|DisplayName|HelpLink|InstallLocation|NoModify|Publisher)$/ {
      n = $1; $1 = $2 = ""; sub(/^ +/, ""); print n "=" $0 }' | paste -sd' ')"
expect "HKLM\\Software\\vpolv: InstallDir and Version" "${host_dir[x64]}\\ $(msiinfo export "$msi_x64" File | awk -F'\t' '$1 == "VpolvDll" { print $5 }')" \
  "$(wine reg query 'HKLM\Software\vpolv' /reg:64 2>/dev/null | tr -d '\r' |
    awk '$1 == "InstallDir" || $1 == "Version" { $1 = $2 = ""; sub(/^ +/, ""); print }' | paste -sd' ')"
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

# An upgrade: an older x86 package, then this one, which replaces it. The older one is made
# from this release's files and packaging with a lower version: what an upgrade relies on (the
# upgrade code, the remembered folder) is the same in every release, and it costs no build.
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
# Without INSTALLDIR: the folder of the installed version is used, also by the user interface's
# sequence, which an upgrade started by double-click runs (/qr runs it, with no display too).
wine msiexec /i "$win_msi_x86" /qr
expect "x86 package upgrades" "0" "$?"
expect "products after the upgrade" "$(msiinfo export "$msi_x86" Property | awk '$1 == "ProductVersion" { print $2 }' | tr -d '\r')" "$(products)"
expect_clients "after the upgrade" own own
release_version="$(property "$msi_x86" ProductVersion)"

# The same version rebuilt (another product code: here one byte more in the PDB) replaces it.
same="$work/same"
rm -rf "$same"
mkdir -p "$same"
cp "$files/x86/vpolv.dll" "$files/x86/vpolv.pdb" "$same/"
printf '\0' >>"$same/vpolv.pdb"
(cd "$same" && "$here/packaging/build-msi.sh" x86 "$release_version" "$version" "$same/rebuilt.msi")
msiexec /i "Z:${same//\//\\}\\rebuilt.msi"
expect "the same version rebuilt: installs" "0" "$?"
expect "the same version rebuilt: one product" "$release_version" "$(products)"
expect "the same version rebuilt: its files" "" "$(cmp "$same/vpolv.pdb" "${unix_dir[x86]}/vpolv.pdb" 2>&1)"

# An upgrade that fails after the old version's removal was scheduled (an action that fails
# just before InstallFinalize): Windows rolls the removal back with the rest. Wine 8 removes the
# old product at once and does not put it back; then nothing may be left half-installed.
failing="$work/failing.msi"
cp "$msi_x86" "$failing"
msiinfo export "$failing" CustomAction | tr -d '\r' >"$work/CustomAction.idt"
printf 'FailForTest\t19\t\tThis installation fails for the test.\t\n' >>"$work/CustomAction.idt"
msiinfo export "$failing" InstallExecuteSequence | tr -d '\r' >"$work/InstallExecuteSequence.idt"
printf 'FailForTest\t\t6599\n' >>"$work/InstallExecuteSequence.idt"
msibuild "$failing" -i "$work/CustomAction.idt" -i "$work/InstallExecuteSequence.idt"
msiexec /i "Z:${failing//\//\\}"
expect "a failing upgrade: fails" "67" "$?"
case "$(products) $(ls "${unix_dir[x86]}" | tr '\n' ' ')" in
  "$release_version SPACE.INI vpolv.dll vpolv.pdb ")
    expect "a failing upgrade: the old version's files" "" "$(cmp "$same/vpolv.pdb" "${unix_dir[x86]}/vpolv.pdb" 2>&1)"
    ;;
  " SPACE.INI ")
    echo "note: Wine did not restore the version that the failed upgrade removed"
    expect "a failing upgrade under Wine: no key left" "no" "$(has_key 32)"
    msiexec /i "$win_msi_x86" INSTALLDIR="${host_dir[x86]}\\"
    expect "x86 package installs after the failed upgrade" "0" "$?"
    ;;
  *) bad "a failing upgrade: left $(products) and $(ls "${unix_dir[x86]}" | tr '\n' ' ')" ;;
esac

# The guide's managed deployment commands on the x64 package (installed already): install,
# check, repair, uninstall by product code.
after_doc_step() {
  case "$1" in
    *" Version "*) expect "deployment.md: the version for detection rules" "1" \
      "$(grep -c "Version    REG_SZ    $(msiinfo export "$msi_x64" File | awk -F'\t' '$1 == "VpolvDll" { print $5 }')" "$work/step.out")" ;;
    *"REINSTALL=ALL"*) expect "deployment.md: the repair puts the PDB back" "yes" \
      "$([ -f "${unix_dir[x64]}/vpolv.pdb" ] && echo yes)" ;;
    *"/x "*) expect "deployment.md: uninstalled by product code" "SPACE.INI" "$(ls "${unix_dir[x64]}")" ;;
  esac
}
rm "${unix_dir[x64]}/vpolv.pdb"
doc_box 2
msiexec /x "$win_msi_x86"
expect "x86 package uninstalls at the end" "0" "$?"
for arch in x86 x64; do
  expect "$arch host folder at the end" "SPACE.INI" "$(ls "${unix_dir[$arch]}")"
  expect_same "$arch SPACE.INI untouched" "$work/SPACE.INI.$arch" "${unix_dir[$arch]}/SPACE.INI"
done
expect_no_trace "both packages uninstalled"
finish

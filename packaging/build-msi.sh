#!/usr/bin/env bash
# Builds the installer of one bitness from packaging/vpolv.wxs, in the folder that holds the
# vpolv.dll and its vpolv.pdb:
#
#   build-msi.sh ARCH VERSION VERSION_TEXT OUTPUT
#     ARCH          x86 or x64
#     VERSION       the installer's version, major.minor.build ("1.1.0")
#     VERSION_TEXT  the version as shown ("1.01")
#     OUTPUT        the .msi to write
#
# The publisher, contact and help link come from packaging/release.conf.
#
# wixl leaves the File table's Version empty; the DLL's version (VERSION.0, as in its version
# record) is written there afterwards, so that Windows Installer's file rules compare it with
# a vpolv.dll already in the folder. Tables wixl cannot write are changed the same way:
#   - AppSearch, Signature, DrLocator: VPOLV_SPACE_INI, the path of [INSTALLDIR]SPACE.INI when
#     the file exists (the launch condition refuses a folder without it);
#   - Upgrade: the same version is upgraded too (a rebuild or a re-signed package has another
#     product code), so that one product of each bitness is ever installed;
#   - Property: INSTALLDIR and VPOLV_INSTALLED_DIR among the secure properties;
#   - InstallExecuteSequence: RemoveExistingProducts right after InstallInitialize, so that the
#     old version's removal is part of the installation and rolled back when it fails.
#
# The same files, version and bitness give the same package, byte for byte: the product code
# and the package code are made from a digest of everything that goes into it (any change of
# a file gives new ones, as a new random code would), and with SOURCE_DATE_EPOCH set (seconds
# since 1970), the package's dates and the times of the files in it are that time. Without
# it, they are the files' own times and the current time.
set -euo pipefail
if [ $# -ne 4 ]; then
  echo "usage: build-msi.sh x86|x64 VERSION VERSION_TEXT OUTPUT" >&2
  exit 2
fi
arch="$1" version="$2" text="$3" output="$4"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=release.conf
source "$here/release.conf"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC

# The files the package installs, copied so that their times can be set.
mkdir "$work/files"
mapfile -t sources < <(grep -o 'Source="[^"]*"' "$here/vpolv.wxs" | sed 's/^Source="//; s/"$//')
cp "${sources[@]}" "$work/files/"
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  (cd "$work/files" && touch -d "@$SOURCE_DATE_EPOCH" "${sources[@]}")
fi

# guid NAME: a GUID made from the digest of the package's inputs and NAME.
inputs="$( (cd "$work/files" && sha256sum "${sources[@]}")
  cat "$here/vpolv.wxs" "$here/release.conf" "$here/build-msi.sh" | sha256sum
  echo "$arch $version $text $(wixl --version)")"
guid() {
  local h
  h="$(printf '%s\n%s\n' "$1" "$inputs" | sha256sum | cut -c1-32 | tr a-f A-F)"
  # Shaped as a name-based GUID (version 5, RFC 4122 variant).
  local variant=$(((16#${h:16:1} & 3) | 8))
  printf '{%s-%s-5%s-%X%s-%s}' "${h:0:8}" "${h:8:4}" "${h:13:3}" "$variant" "${h:17:3}" "${h:20:12}"
}

(cd "$work/files" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D VersionText="$text" \
  -D ProductCode="$(guid product)" -D Publisher="$PUBLISHER" -D Contact="$CONTACT" \
  -D HelpUrl="$HELP_URL" -o "$work/vpolv.msi" "$here/vpolv.wxs")

# patch TABLE AWK-PROGRAM: the table exported, its rows (after the three header lines) changed
# by the program, and imported back.
patch() {
  msiinfo export "$work/vpolv.msi" "$1" | tr -d '\r' >"$work/$1.old"
  awk -F'\t' -v OFS='\t' "$2" "$work/$1.old" >"$work/$1.idt"
  msibuild "$work/vpolv.msi" -i "$work/$1.idt"
}
patch File 'NR > 3 && $1 == "VpolvDll" { $5 = "'"$version.0"'"; $6 = "3082" } { print }'
# 512: VersionMaxInclusive, on the row that detects the versions to replace.
patch Upgrade 'NR > 3 && $2 == "" && $3 != "" { $5 = $5 + 512 } { print }'
# The folder properties reach the installation's server side in every kind of installation.
patch Property 'NR > 3 && $1 == "SecureCustomProperties" { $2 = $2 ";INSTALLDIR;VPOLV_INSTALLED_DIR" } { print }'
patch InstallExecuteSequence 'NR > 3 && $1 == "RemoveExistingProducts" { $3 = 1501 } { print }'
patch AppSearch '{ print } END { print "VPOLV_SPACE_INI\tSpaceIni" }'
patch Signature '{ print } END { print "SpaceIni\tSPACE.INI\t\t\t\t\t\t\t" }'
printf 'Signature_\tParent\tPath\tDepth\ns72\tS72\tS255\tI2\nDrLocator\tSignature_\tParent\tPath\nSpaceIni\t\t[INSTALLDIR]\t0\n' \
  >"$work/DrLocator.idt"
msibuild "$work/vpolv.msi" -i "$work/DrLocator.idt"

# The summary: 9 is the package code, 12 and 13 the times it was created and last saved.
date=""
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  date="$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y/%m/%d %H:%M:%S')"
fi
msiinfo export "$work/vpolv.msi" _SummaryInformation | tr -d '\r' |
  awk -F'\t' -v OFS='\t' -v code="$(guid package)" -v date="$date" '
    NR > 3 && $1 == 9 { $2 = code }
    NR > 3 && ($1 == 12 || $1 == 13) && date != "" { $2 = date }
    { print }' >"$work/_SummaryInformation.idt"
msibuild "$work/vpolv.msi" -i "$work/_SummaryInformation.idt"
mv "$work/vpolv.msi" "$output"

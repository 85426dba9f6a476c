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
# wixl leaves the File table's Version empty; the DLL's version (VERSION.0, as in its version
# record) is written there afterwards, so that Windows Installer's file rules compare it with
# a vpolv.dll already in the folder.
set -euo pipefail
if [ $# -ne 4 ]; then
  echo "usage: build-msi.sh x86|x64 VERSION VERSION_TEXT OUTPUT" >&2
  exit 2
fi
arch="$1" version="$2" text="$3" output="$4"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D VersionText="$text" \
  -o "$work/vpolv.msi" "$here/vpolv.wxs"
msiinfo export "$work/vpolv.msi" File >"$work/File.idt"
awk -F'\t' -v OFS='\t' -v v="$version.0" 'NR > 3 && $1 == "VpolvDll" { $5 = v; $6 = "3082" } { print }' \
  "$work/File.idt" >"$work/File.new.idt"
mv "$work/File.new.idt" "$work/File.idt"
msibuild "$work/vpolv.msi" -i "$work/File.idt"
mv "$work/vpolv.msi" "$output"

#!/usr/bin/env bash
# The files we ship are the files we test:
#  - the unsigned release's DLLs and PDBs are, byte for byte, the ones the Windows builds'
#    tests ran on (build/windows*/dist/);
#  - every DLL test of both Windows builds (tests/wine, under Wine inside Xvfb) passes again
#    on the signed release's DLLs, as they are in its zip (and in its installers).
#
#   suite_test.sh RELEASE UNSIGNED WORKDIR
set -uo pipefail
if [ $# -ne 3 ]; then
  echo "usage: suite_test.sh RELEASE UNSIGNED WORKDIR" >&2
  exit 2
fi
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
rm -rf "$3"
mkdir -p "$3/signed" "$3/unsigned"
work="$(cd "$3" && pwd)"
# shellcheck source=../support/checks.sh
source "$repo/tests/support/checks.sh"
(cd "$work/signed" && unzip -q "$1"/vpolv-*.zip) || exit 1
(cd "$work/unsigned" && unzip -q "$2"/vpolv-*.zip) || exit 1
cd "$repo" || exit 1

declare -A preset=([x86]=windows-x86 [x64]=windows)
for arch in x86 x64; do
  for file in vpolv.dll vpolv.pdb; do
    expect "the unsigned $arch/$file is the one build/${preset[$arch]} tested" "" \
      "$(cmp "$work"/unsigned/vpolv-*/"$arch/$file" "build/${preset[$arch]}/dist/$file" 2>&1)"
  done
done

for arch in x86 x64; do
  dll="$(ls "$work"/signed/vpolv-*/"$arch"/vpolv.dll)"
  echo "== the DLL tests of ${preset[$arch]} on the signed release's $arch/vpolv.dll"
  VPOLV_TESTED_DLL="$dll" bash scripts/with-xvfb.sh \
    bash scripts/wine-ctest.sh "${preset[$arch]}" -R '^vpolv_wine' >"$work/$arch.out" 2>&1
  status=$?
  grep -E 'Test +#|tests passed' "$work/$arch.out"
  expect "$arch: the DLL tests on the signed DLL" 0 "$status" || tail -n 60 "$work/$arch.out"
  # Each test program says which DLL it tests (ctest keeps the whole output in its log).
  log="build/${preset[$arch]}/Testing/Temporary/LastTest.log"
  expect "$arch: programs that tested the signed DLL, and that tested another" "yes 0" \
    "$(grep -q -F "Testing $dll" "$log" && echo yes) $(grep '^Testing ' "$log" | grep -c -v -F "$dll")"
done
finish "files shipped, files tested"

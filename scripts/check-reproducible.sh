#!/usr/bin/env bash
# Builds the release twice, from two copies of the sources in two folders of different names,
# each with scripts/package.sh from scratch (the release files only: no tests, no benchmarks,
# in each copy's build/windows-x86 and build/windows), and compares the two byte for byte: the
# files in the zips, the files the installers install, then every release file. Names the first
# file that differs, and for an installer, which of its tables differ.
#
#   check-reproducible.sh [WORKDIR]    (build/reproducible by default; made anew)
#   check-reproducible.sh --against RELEASE [WORKDIR]
#                                      one build only, compared with RELEASE: an unsigned
#                                      release of the same sources built in another folder (the
#                                      test stages pass the one the deploy stage made from the
#                                      trees the Windows stages tested, which saves a build)
#
# The copies hold the working tree's files (committed or not, the ignored ones left out); the
# time of the files is the commit's, as package.sh takes it.
set -euo pipefail
cd "$(dirname "$0")/.."
against=""
if [ "${1:-}" = "--against" ]; then
  [ $# -ge 2 ] && [ -f "$2/SHA256SUMS" ] ||
    { echo "check-reproducible.sh: --against needs a release folder (with its SHA256SUMS)" >&2; exit 2; }
  against="$(cd "$2" && pwd)"
  shift 2
fi
work="${1:-build/reproducible}"
rm -rf "$work"
mkdir -p "$work"
work="$(cd "$work" && pwd)"

SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
export SOURCE_DATE_EPOCH
# Unsigned on purpose (package.sh --unsigned): signatures differ at every signing, and the
# comparison is of the files that are built.
unset VPOLV_SIGN_CERT VPOLV_SIGN_PASS_FILE VPOLV_SIGN_TIMESTAMP_URL VPOLV_SIGNATURES_FROM \
  VPOLV_SIGN_PKCS11_MODULE VPOLV_SIGN_KEY VPOLV_SIGN_PIN_FILE

copies=("$work/one/vpolv" "$work/two/another-folder/sources")
if [ -n "$against" ]; then copies=("${copies[1]}"); fi
for copy in "${copies[@]}"; do
  mkdir -p "$copy"
  git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$copy" -xf -
done
for copy in "${copies[@]}"; do
  echo "== release built in $copy"
  if ! (cd "$copy" && bash scripts/package.sh --unsigned) >"$copy.log" 2>&1; then
    tail -n 30 "$copy.log"
    echo "check-reproducible.sh: the release build in $copy failed (log: $copy.log)" >&2
    exit 1
  fi
done

# The two releases, each with its zip and installers unpacked beside it.
unpack() {
  local dist="$1" into="$2" msi
  mkdir -p "$into/zip" "$into/msi"
  (cd "$into/zip" && unzip -q "$dist"/*.zip)
  for msi in "$dist"/*.msi; do
    mkdir -p "$into/msi/$(basename "$msi")"
    msiextract -C "$into/msi/$(basename "$msi")" "$msi" >/dev/null
  done
}
first_dist="${against:-$work/one/vpolv/dist}"
second_dist="$work/two/another-folder/sources/dist"
a="$work/one/unpacked" b="$work/two/unpacked"
unpack "$first_dist" "$a"
unpack "$second_dist" "$b"
ln -s "$first_dist" "$a/dist"
ln -s "$second_dist" "$b/dist"

# An installer's own fields that differ: its summary and its tables.
msi_fields() {
  local t
  diff <(msiinfo suminfo "$1") <(msiinfo suminfo "$2") >/dev/null || echo "  its summary differs"
  for t in $(msiinfo tables "$1"); do
    diff <(msiinfo export "$1" "$t") <(msiinfo export "$2" "$t") >/dev/null ||
      echo "  its table $t differs"
  done
}

first="" count=0
for part in zip msi dist; do
  a_files="$(cd "$a/$part/" && find . -type f | LC_ALL=C sort)"
  b_files="$(cd "$b/$part/" && find . -type f | LC_ALL=C sort)"
  if [ "$a_files" != "$b_files" ]; then
    echo "the two builds have different files ($part):"
    diff <(echo "$a_files") <(echo "$b_files") || true
    first="${first:-the list of files}"
  fi
  while read -r f; do
    count=$((count + 1))
    if [ -f "$b/$part/$f" ] && ! cmp -s "$a/$part/$f" "$b/$part/$f"; then
      echo "differs: $part/${f#./}"
      case "$f" in *.msi) msi_fields "$a/$part/$f" "$b/$part/$f" ;; esac
      first="${first:-$part/${f#./}}"
    fi
  done <<<"$a_files"
done

if [ -n "$first" ]; then
  echo "check-reproducible.sh: the two builds differ; the first differing file: $first" >&2
  exit 1
fi
echo "the two builds are identical: $count files (zip contents, installed files, release files)"

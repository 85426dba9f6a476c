#!/usr/bin/env bash
# Builds the release files of both bitnesses and writes them to dist/ (or the folder --out names):
#   vpolv-<version>-x86.msi   the installer for 32-bit hosts
#   vpolv-<version>-x64.msi   the installer for 64-bit hosts
#   product-codes.txt         each installer's product code, upgrade code and version, for
#                             deployment tools (tab-separated, with a header line)
#   vpolv-<version>.zip       both DLLs (x86/, x64/) with their PDBs, the host simulator
#                             vpolv-sim.exe (32-bit, runs on every Windows) with its PDB, the
#                             guides and the notices of the runtime libraries linked in
#   SHA256SUMS                the SHA-256 of each of these files, and of each file in the zip
#
#   bash scripts/package.sh [--out FOLDER] [--unsigned]
#
# The programs are Release builds of clang and lld, the files of the presets windows-x86 and
# windows (build/windows-x86/dist/, build/windows/dist/), on which the Windows test stages run
# every test: after those stages nothing is built again, and on a fresh checkout only the
# release files are built, not the tests. Each program's symbols are in the PDB beside it,
# which its CodeView record names (GUID and age), for WinDbg and Visual Studio.
#
# Signed and timestamped with the key that scripts/sign.sh is given (`sign.sh --help`: a key in a
# token through PKCS#11, or a PKCS#12 file), the programs first, then the installers made with
# them. Without a key it stops, unless --unsigned asks for an unsigned release (tests, trials).
#
# The release replaces the folder whole, and only when complete: it is made in a staging folder
# beside it; the old folder is then moved aside, the new one moved in, and the old one removed.
# A failure or an interruption (Ctrl+C, SIGTERM, a closed terminal) at any point leaves the old
# folder as it was. (Only a kill that cannot be caught, between the two moves, leaves it in the
# staging folder, .<name>.new.*/previous, beside it.)
#
# Reproducible: the same commit gives the same files, byte for byte (the signatures aside),
# wherever it is built; their times are the commit's (SOURCE_DATE_EPOCH, when set, instead).
set -euo pipefail
cd "$(dirname "$0")/.."
target=dist
unsigned=""
while [ $# -gt 0 ]; do
  case "$1" in
    --out)
      [ $# -ge 2 ] || { echo "package.sh: --out needs a folder" >&2; exit 2; }
      target="$2"
      shift 2
      ;;
    --unsigned)
      unsigned=--unsigned
      shift
      ;;
    *)
      echo "usage: bash scripts/package.sh [--out FOLDER] [--unsigned]" >&2
      exit 2
      ;;
  esac
done
target="$(realpath -m "$target")"
bash scripts/install-deps.sh
# Before the build: a key that cannot be used, or none without --unsigned, stops it at once.
bash scripts/sign.sh check $unsigned

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null)"; then
    SOURCE_DATE_EPOCH="$(date +%s)"
    echo "package.sh: no commit and no SOURCE_DATE_EPOCH: the files' times are the current time"
  fi
fi
export SOURCE_DATE_EPOCH

# Configured afresh: a release never depends on what an earlier configuration left in the
# cache (a setting given by hand to a test tree among them). Only the cache goes: the build
# stays incremental, as Ninja rebuilds whatever is built by another command, and a tree the
# tests built is up to date.
declare -A tree=([x86]=build/windows-x86 [x64]=build/windows)
for arch in x86 x64; do
  preset="$(basename "${tree[$arch]}")"
  echo "== $preset: the release files ($arch)"
  rm -f "${tree[$arch]}/CMakeCache.txt"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target vpolv_release_files
done

version="$(cat "${tree[x64]}/dist/VERSION")"
if [ "$(cat "${tree[x86]}/dist/VERSION")" != "$version" ]; then
  echo "package.sh: the two release builds have different versions" >&2
  exit 1
fi

# On any exit: the old release back when it was moved aside and the new one is not in, then the
# staging folder gone. A signal ends the script through this too.
stage=""
finish() {
  if [ -n "$stage" ] && [ -e "$stage/previous" ] && [ ! -e "$target/SHA256SUMS" ]; then
    rm -rf "$target"
    mv "$stage/previous" "$target"
  fi
  if [ -n "$stage" ]; then rm -rf "$stage"; fi
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
# Staged beside the target, on its file system, so that the new release moves in by renaming.
mkdir -p "$(dirname "$target")"
stage="$(mktemp -d "$(dirname "$target")/.$(basename "$target").new.XXXXXX")"
out="$stage/dist"
name="vpolv-$version"
mkdir -p "$out"
for arch in x86 x64; do
  mkdir -p "$stage/$name/$arch"
  cp "${tree[$arch]}/dist/vpolv.dll" "${tree[$arch]}/dist/vpolv.pdb" "$stage/$name/$arch/"
done
cp "${tree[x86]}/dist/vpolv-sim.exe" "${tree[x86]}/dist/vpolv-sim.pdb" "$stage/$name/"
cp docs/deployment.md docs/support.md docs/trace-format.md docs/scene-format.md \
  docs/pricing-reference.md packaging/NOTICE.txt "$stage/$name/"

# Every program of the release, signed before it goes into the installers and the zip.
mapfile -t programs < <(cd "$stage" && find "$name" -name '*.dll' -o -name '*.exe' | LC_ALL=C sort)
bash scripts/sign.sh "$stage" "${programs[@]}"

msis=()
for arch in x86 x64; do
  (cd "$stage/$name/$arch" && "$OLDPWD/packaging/build-msi.sh" "$arch" \
    "$(cat "$OLDPWD/${tree[$arch]}/dist/MSI_VERSION")" "$version" "$out/$name-$arch.msi")
  msis+=("$name-$arch.msi")
done
bash scripts/sign.sh "$out" "${msis[@]}"
# The codes as the packages hold them (signing does not change them).
{
  printf 'File\tProductCode\tUpgradeCode\tProductVersion\r\n'
  for msi in "${msis[@]}"; do
    msiinfo export "$out/$msi" Property | tr -d '\r' | awk -F'\t' -v OFS='\t' -v msi="$msi" '
      { v[$1] = $2 } END { printf "%s\t%s\t%s\t%s\r\n", msi, v["ProductCode"], v["UpgradeCode"], v["ProductVersion"] }'
  done
} >"$out/product-codes.txt"

# The zip: its files in one order, with the commit's time, no owner and plain permissions.
(
  cd "$stage"
  find "$name" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
  find "$name" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
  find "$name" -type f | LC_ALL=C sort >files
  TZ=UTC zip -X -D -q "$out/$name.zip" -@ <files
  # The release files, then the zip's.
  (cd "$out" && export LC_ALL=C && sha256sum -- *) >sums
  xargs -d '\n' sha256sum <files >>sums
  mv sums "$out/SHA256SUMS"
)

if [ -e "$target" ]; then mv "$target" "$stage/previous"; fi
# The tests make it fail here, between the two moves, where the old release is out of place.
if [ -n "${VPOLV_TEST_FAIL_BETWEEN_MOVES:-}" ]; then exit 1; fi
mv "$out" "$target"
rm -rf "$stage/previous"
echo "== $target"
ls -l "$target"

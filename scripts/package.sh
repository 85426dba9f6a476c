#!/usr/bin/env bash
# Builds the release files of both bitnesses and writes them to dist/:
#   vpolv-<version>-x86.msi   the installer for 32-bit hosts
#   vpolv-<version>-x64.msi   the installer for 64-bit hosts
#   vpolv-<version>.zip       both DLLs (x86/, x64/) with their PDBs, the host simulator
#                             vpolv-sim.exe (32-bit, runs on every Windows) with its PDB, the
#                             guides and the notices of the runtime libraries linked in
#   SHA256SUMS                the SHA-256 of each of these files
# The programs are Release builds of clang and lld; each one's symbols are in the PDB beside it,
# which its CodeView record names (GUID and age), for WinDbg and Visual Studio.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

for preset in release-x86 release-x64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

version="$(cat build/release-x64/dist/VERSION)"
if [ "$(cat build/release-x86/dist/VERSION)" != "$version" ]; then
  echo "package.sh: the two release builds have different versions" >&2
  exit 1
fi

rm -rf dist
mkdir -p dist
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
root="$stage/vpolv-$version"
for arch in x86 x64; do
  built="build/release-$arch/dist"
  cp "$built/vpolv-$version-$arch.msi" dist/
  mkdir -p "$root/$arch"
  cp "$built/vpolv.dll" "$built/vpolv.pdb" "$root/$arch/"
done
cp build/release-x86/dist/vpolv-sim.exe build/release-x86/dist/vpolv-sim.pdb "$root/"
cp docs/deployment.md docs/support.md docs/trace-format.md docs/scene-format.md \
  docs/pricing-reference.md packaging/NOTICE.txt "$root/"
(cd "$stage" && cmake -E tar cf "$OLDPWD/dist/vpolv-$version.zip" --format=zip "vpolv-$version")

(cd dist && sha256sum -- * >SHA256SUMS)

echo "== dist/"
ls -l dist

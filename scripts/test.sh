#!/usr/bin/env bash
# Builds every configuration and runs every test: natively (also under the sanitizers, and a
# short fuzzing run), then the Windows builds of both bitnesses under Wine, then the release
# files (scripts/package.sh), their signatures and their deployment, and last the release built
# twice to show that it is reproducible.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

echo "== native build and tests under AddressSanitizer and UndefinedBehaviorSanitizer (clang)"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan
ctest --preset native-asan

echo "== fuzzing: a short run of the fuzz targets"
# The targets of this run; scripts/fuzz.sh runs any of them for longer.
fuzz_targets=(scene numbers description events)
bash scripts/fuzz.sh --ci 30 "${fuzz_targets[@]}"

# -- Windows, both bitnesses: core tests and DLL tests under Wine -------------------------------
# Each preset has a Wine prefix of its own in its build tree (64-bit with its 32-bit side; see
# cmake/wine-run.sh, which also makes it anew when it lacks that side).
windows_presets=(windows windows-x86)
for preset in "${windows_presets[@]}"; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

export WINEDEBUG=-all
# Windows need a display (message boxes among them): the Wine runs happen under Xvfb, and each
# prefix's wineserver is started inside it and stopped afterwards.
status=0
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -e
  for preset in "$@"; do
    echo "== $preset tests (under Wine)"
    export WINEPREFIX="$PWD/build/$preset/wineprefix"
    # The DLL tests leave a trace of one placement there, for the simulator to replay below.
    export VPOLV_DLL_TRACE="$PWD/build/$preset/dll-trace.jsonl"
    wineserver -k 2>/dev/null || true
    cmake/wine-run.sh --prepare "$WINEPREFIX"
    # Message boxes close at once without a window manager.
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
    ctest --preset "$preset" || status=$?
    wineserver -k 2>/dev/null || true
    [ "${status:-0}" -eq 0 ]
  done
' run "${windows_presets[@]}" || status=$?
if [ "$status" -ne 0 ]; then
  exit "$status"
fi

echo "== traces written by both DLLs, replayed by the native simulator"
for preset in "${windows_presets[@]}"; do
  ./build/native/sim/vpolv-sim --replay "build/$preset/dll-trace.jsonl"
done

# -- Release files and their deployment --------------------------------------------------------
# scripts/package.sh unsigned, then failing and succeeding with a throwaway certificate: the
# signed release stays in dist/. Then both of its DLLs side by side through regsvr32, and the
# two MSI packages, in fresh prefixes.
echo "== release files (scripts/package.sh), signed with a throwaway certificate"
bash tests/deploy/sign_test.sh build/sign
echo "== deployment tests of the signed release (under Wine)"
bash tests/deploy/deploy_test.sh dist build/windows-x86/tests/wine/vpolv_probe.exe \
  build/windows/tests/wine/vpolv_probe.exe build/deploy

# -- Support from Windows: the release's vpolv-sim.exe and docs/support.md under Wine -----------
echo "== vpolv-sim.exe of both release builds, and docs/support.md (under Wine)"
bash tests/windows-sim/windows_sim_test.sh dist build/native/sim/vpolv-sim build/windows-sim \
  build/release-x64/dist/vpolv-sim.exe \
  --dll-tests x86 build/windows-x86/tests/wine/vpolv_wine_tests.exe \
  --dll-tests x64 build/windows/tests/wine/vpolv_wine_tests.exe
echo "== vpolv-sim doctor on a machine with the package installed (under Wine)"
bash tests/deploy/doctor_test.sh dist build/release-x64/dist/vpolv-sim.exe \
  build/release-x86/dist/vpolv-sim.exe build/doctor

# -- Reproducible release files ----------------------------------------------------------------
echo "== the release built twice, in two folders: the same files"
bash scripts/check-reproducible.sh build/reproducible

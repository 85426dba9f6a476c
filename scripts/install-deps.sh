#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Safe to run again: it installs nothing when everything is there. Needs root to install.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev googletest nlohmann-json3-dev
  libcli11-dev
  # zlib, for the simulator's support bundles: the native builds' and both MinGW builds'.
  zlib1g-dev libz-mingw-w64-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools
  wine wine64 wine32:i386 libwine-dev xvfb xauth
  wixl msitools
  # The signatures of the release files (scripts/sign.sh; OpenSSL's PKCS#11 engine for keys in
  # tokens) and the release zip.
  osslsigncode openssl libengine-pkcs11-openssl zip unzip
  # The signing tests: a token in software, its tool, and the timestamp server (Python).
  softhsm2 opensc python3
  # The sanitizer build and the fuzz targets: clang with its sanitizer and libFuzzer runtimes.
  clang libclang-rt-14-dev
  # The release builds (clang and lld in MinGW mode, PDBs; the type library's time fixed) and
  # the check of their symbols.
  clang-16 lld-16 llvm-16 llvm faketime
  # The doctor's tests sign a DLL with a throwaway certificate.
  osslsigncode openssl
  # pgrep and pkill: the tests signal the programs they started (collect's, package.sh).
  procps
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

# The 32-bit Wine (wine32:i386) runs the 32-bit DLL and its tests.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture"
  dpkg --add-architecture i386
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=600 update -qq
apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}" >/dev/null

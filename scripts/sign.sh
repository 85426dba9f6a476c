#!/usr/bin/env bash
# Authenticode signatures of the release files (SHA-256, timestamped), made with osslsigncode.
#
#   sign.sh check [--unsigned]  checks what signs the release and says it in one line: a key in
#                               a token, a PKCS#12 file, or a published release's signatures.
#                               With nothing to sign with it stops, unless --unsigned allows an
#                               unsigned release (package.sh --unsigned: for tests and trials)
#   sign.sh ROOT FILE...        signs each FILE (a path below ROOT, as in the release: the zip's
#                               files below vpolv-<version>/) in place
#   sign.sh --help              this text
#
# What signs comes from the environment. A key in hardware (a USB token, an HSM, a cloud
# signing service), through the PKCS#11 module of its vendor:
#   VPOLV_SIGN_PKCS11_MODULE  the token's PKCS#11 module (a .so file)
#   VPOLV_SIGN_KEY            the private key in the token, a pkcs11: URI
#                             ("pkcs11:token=vpolv;object=signing;type=private")
#   VPOLV_SIGN_CERT           its code-signing certificate: a pkcs11: URI of the certificate in
#                             the token, or a PEM file (the certificate first, then its chain)
#   VPOLV_SIGN_PIN_FILE       a file holding the token's PIN (the first line)
# or a key in a file:
#   VPOLV_SIGN_CERT           the certificate and its key, a PKCS#12 file
#   VPOLV_SIGN_PASS_FILE      a file holding its password (the first line)
# and with either, always:
#   VPOLV_SIGN_TIMESTAMP_URL  the RFC 3161 timestamp server (the certificate issuer's): a
#                             release is not signed without one, as an untimestamped signature
#                             stops verifying when the certificate expires
# Instead of a key:
#   VPOLV_SIGNATURES_FROM     the folder of a release (its installers and its zip) whose
#                             signatures are attached to the same files of this build, which
#                             must match them; see docs/deployment.md
# For the tests only:
#   VPOLV_TEST_SIGN_WITHOUT_TIMESTAMP=1   signs without a timestamp; never for a release
#
# The certificate must name the publisher of packaging/release.conf (PUBLISHER) as its
# organisation (O=) and be valid today. `check` signs a scratch file once, timestamped: a wrong
# PIN, a key that does not match the certificate or a timestamp server that does not answer
# stops the release before the build, and a wrong PIN is not tried again (tokens lock after a
# few). The OpenSSL PKCS#11 engine (Debian: libengine-pkcs11-openssl) loads the module.
#
# The PIN and the password are read by the tools from their files: they are never on a command
# line or in the output. Any failure stops with a message and status 1, leaving the files as
# they were.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

fail() {
  echo "sign.sh: $*" >&2
  exit 1
}

usage() { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; }

# What signs: attach, token, pkcs12 or none.
mode() {
  if [ -n "${VPOLV_SIGNATURES_FROM:-}" ]; then
    echo attach
  elif [ -n "${VPOLV_SIGN_PKCS11_MODULE:-}" ]; then
    echo token
  elif [ -n "${VPOLV_SIGN_CERT:-}" ]; then
    echo pkcs12
  else
    echo none
  fi
}

readable() {
  [ -n "${!1:-}" ] || fail "$1 is not set: it names $2"
  [ -r "${!1}" ] && [ -f "${!1}" ] || fail "cannot read $2 $1=${!1}"
}

# The settings of a key checked, without using it; the options of osslsigncode that sign with it
# in the array `signer`.
settings() {
  case "$(mode)" in
    token)
      readable VPOLV_SIGN_PKCS11_MODULE "the token's PKCS#11 module"
      [[ "${VPOLV_SIGN_KEY:-}" == pkcs11:* ]] ||
        fail "VPOLV_SIGN_KEY must name the key in the token, a pkcs11: URI (it is '${VPOLV_SIGN_KEY:-}')"
      [ -n "${VPOLV_SIGN_CERT:-}" ] ||
        fail "VPOLV_SIGN_CERT is not set: it names the certificate, a pkcs11: URI or a PEM file"
      readable VPOLV_SIGN_PIN_FILE "the file of the token's PIN"
      signer=(-pkcs11module "$VPOLV_SIGN_PKCS11_MODULE" -key "$VPOLV_SIGN_KEY"
        -readpass "$VPOLV_SIGN_PIN_FILE")
      if [[ "$VPOLV_SIGN_CERT" == pkcs11:* ]]; then
        signer+=(-pkcs11cert "$VPOLV_SIGN_CERT")
      else
        readable VPOLV_SIGN_CERT "the certificate"
        signer+=(-certs "$VPOLV_SIGN_CERT")
      fi
      ;;
    pkcs12)
      [ -z "${VPOLV_SIGN_KEY:-}" ] ||
        fail "VPOLV_SIGN_KEY names a key in a token: set VPOLV_SIGN_PKCS11_MODULE to its module too"
      readable VPOLV_SIGN_CERT "the certificate"
      readable VPOLV_SIGN_PASS_FILE "the file of the certificate's password"
      signer=(-pkcs12 "$VPOLV_SIGN_CERT" -readpass "$VPOLV_SIGN_PASS_FILE")
      ;;
  esac
  if [ -n "${VPOLV_SIGN_TIMESTAMP_URL:-}" ]; then
    signer+=(-ts "$VPOLV_SIGN_TIMESTAMP_URL")
  elif [ "${VPOLV_TEST_SIGN_WITHOUT_TIMESTAMP:-}" != 1 ]; then
    fail "VPOLV_SIGN_TIMESTAMP_URL is not set: a release is signed with a timestamp (the" \
      "certificate issuer's RFC 3161 server), without which its signatures stop verifying" \
      "when the certificate expires"
  fi
}

# sign_one FILE OUT [WHAT]: FILE signed, into OUT; WHAT names it in a failure.
sign_one() {
  local log why
  log="$(mktemp)"
  if osslsigncode sign "${signer[@]}" -h sha256 -n "vpolv catalog plug-in" -in "$1" -out "$2" \
    >"$log" 2>&1; then
    rm -f "$log"
    return
  fi
  why="osslsigncode: $(grep -v '^[0-9A-F]*:error:' "$log" | grep -v '^Failed$\|^Engine ' |
    head -n 3 | tr '\n' ' ')"
  if grep -q "PIN incorrect" "$log"; then
    why="the token refused the PIN in VPOLV_SIGN_PIN_FILE (a token locks after a few wrong PINs)"
  elif grep -q "PIN locked" "$log"; then
    why="the token's PIN is locked"
  elif grep -q "Failed to find and load 'pkcs11' engine" "$log"; then
    why="OpenSSL has no PKCS#11 engine (Debian: libengine-pkcs11-openssl)"
  elif grep -q "Unable to load module" "$log"; then
    why="cannot load the PKCS#11 module VPOLV_SIGN_PKCS11_MODULE=$VPOLV_SIGN_PKCS11_MODULE"
  elif grep -q "private key was not found" "$log"; then
    why="the token has no key VPOLV_SIGN_KEY=$VPOLV_SIGN_KEY"
  elif grep -q "certificate was not found" "$log"; then
    why="the token has no certificate VPOLV_SIGN_CERT=$VPOLV_SIGN_CERT"
  elif grep -q "key values mismatch" "$log"; then
    why="the certificate VPOLV_SIGN_CERT=$VPOLV_SIGN_CERT is not the one of the key"
  elif grep -q "timestamping failed\|HTTP failure\|Failed to get data" "$log"; then
    why="the timestamp server $VPOLV_SIGN_TIMESTAMP_URL did not give a timestamp"
  fi
  rm -f "$log"
  fail "cannot sign ${3:-$(basename "$1")}: $why"
}

# A scratch folder, $scratch, removed on exit.
scratch_folder() {
  scratch="$(mktemp -d)"
  trap 'rm -rf "$scratch"' EXIT
}

# A scratch file signed with the settings, into FOLDER/signed.ps1: the key and the timestamp
# server used once.
trial() {
  printf 'Write-Output "vpolv"\r\n' >"$1/scratch.ps1"
  sign_one "$1/scratch.ps1" "$1/signed.ps1" "a scratch file (a trial, before the release is built)"
}

# The PKCS#12 file's certificate, read with its password; its PEM on stdout.
pkcs12_certificate() {
  local err
  err="$(mktemp)"
  # PKCS#12 files from older tools use algorithms OpenSSL 3 keeps in its legacy provider.
  if ! openssl pkcs12 -in "$VPOLV_SIGN_CERT" -passin "file:$VPOLV_SIGN_PASS_FILE" -nokeys \
    -clcerts 2>"$err" && ! openssl pkcs12 -legacy -in "$VPOLV_SIGN_CERT" \
    -passin "file:$VPOLV_SIGN_PASS_FILE" -nokeys -clcerts 2>>"$err"; then
    local why="not a PKCS#12 file, or the password is wrong"
    if grep -qi "mac verify failure\|invalid password" "$err"; then why="wrong password"; fi
    rm -f "$err"
    fail "cannot open the certificate $VPOLV_SIGN_CERT with the password in" \
      "VPOLV_SIGN_PASS_FILE: $why"
  fi
  rm -f "$err"
}

# The signing certificate's PEM on stdout; for a certificate in a token, read from the signature
# of a scratch file (in FOLDER), which holds it alone.
certificate() {
  if [ "$(mode)" = pkcs12 ]; then
    pkcs12_certificate
  elif [[ "$VPOLV_SIGN_CERT" == pkcs11:* ]]; then
    trial "$1" >&2
    osslsigncode extract-signature -pem -in "$1/signed.ps1" -out "$1/signature.pem" >/dev/null ||
      fail "cannot read the signature of a scratch file signed with the token"
    openssl pkcs7 -in "$1/signature.pem" -print_certs | openssl x509
  else
    openssl x509 -in "$VPOLV_SIGN_CERT" 2>/dev/null ||
      fail "VPOLV_SIGN_CERT=$VPOLV_SIGN_CERT is not a PEM certificate"
  fi
}

# The certificate (PEM) checked: the publisher's, valid today. Its subject on stdout.
check_certificate() {
  local pem="$1" subject organisations publisher start end
  [ -n "$pem" ] || fail "$VPOLV_SIGN_CERT holds no certificate"
  subject="$(openssl x509 -noout -subject -nameopt oneline <<<"$pem" | sed 's/^subject= *//')"
  [ -r "$repo/packaging/release.conf" ] || fail "cannot read packaging/release.conf (PUBLISHER)"
  # shellcheck source=../packaging/release.conf
  publisher="$(source "$repo/packaging/release.conf" && echo "${PUBLISHER:-}")"
  [ -n "$publisher" ] || fail "packaging/release.conf sets no PUBLISHER"
  organisations="$(openssl x509 -noout -subject -nameopt sep_multiline,sname,utf8,-esc_msb \
    <<<"$pem" | sed -n 's/^ *O=//p')"
  if [ "$organisations" != "$publisher" ]; then
    fail "the certificate ($subject) is not the publisher's: its organisation (O=) is" \
      "'${organisations//$'\n'/, }', packaging/release.conf names '$publisher'"
  fi
  end="$(openssl x509 -noout -enddate <<<"$pem" | sed 's/^notAfter=//')"
  if ! openssl x509 -noout -checkend 0 <<<"$pem" >/dev/null; then
    fail "the certificate $VPOLV_SIGN_CERT ($subject) expired on $end"
  fi
  start="$(openssl x509 -noout -startdate <<<"$pem" | sed 's/^notBefore=//')"
  if [ "$(date -u -d "$start" +%s)" -gt "$(date -u +%s)" ]; then
    fail "the certificate $VPOLV_SIGN_CERT ($subject) is valid only from $start"
  fi
  echo "$subject (certificate valid until $end)"
}

check() {
  local allow_unsigned="$1"
  if [ -n "$allow_unsigned" ] && [ "$(mode)" != none ]; then
    fail "--unsigned, yet the environment names what signs (VPOLV_SIGN_CERT," \
      "VPOLV_SIGN_PKCS11_MODULE or VPOLV_SIGNATURES_FROM): unset it, or leave out --unsigned"
  fi
  case "$(mode)" in
    attach)
      [ -d "$VPOLV_SIGNATURES_FROM" ] ||
        fail "VPOLV_SIGNATURES_FROM: $VPOLV_SIGNATURES_FROM is not a folder"
      echo "Signatures: attached from the release in $VPOLV_SIGNATURES_FROM"
      return
      ;;
    none)
      [ -n "$allow_unsigned" ] ||
        fail "nothing to sign the release with: set the key (VPOLV_SIGN_CERT and the others," \
          "see scripts/sign.sh --help), or make an unsigned release on purpose with" \
          "package.sh --unsigned"
      echo "Signatures: none (--unsigned): the release files are unsigned"
      return
      ;;
  esac
  settings
  local pem subject how
  scratch_folder
  pem="$(certificate "$scratch")"
  subject="$(check_certificate "$pem")"
  # The key and the timestamp server used once, if reading the certificate did not.
  [ -f "$scratch/signed.ps1" ] || trial "$scratch"
  how="timestamped by $VPOLV_SIGN_TIMESTAMP_URL"
  if [ -z "${VPOLV_SIGN_TIMESTAMP_URL:-}" ]; then
    how="NOT timestamped (VPOLV_TEST_SIGN_WITHOUT_TIMESTAMP: for tests only)"
  fi
  if [ "$(mode)" = token ]; then how="key in the token of $VPOLV_SIGN_PKCS11_MODULE, $how"; fi
  echo "Signatures: $subject, $how"
}

# attach_one FILE OUT NAME: the signature of NAME as released (an installer of the release, or a
# file of its zip) attached to FILE, into OUT; it must belong to FILE's contents.
attach_one() {
  # osslsigncode writes only files that do not exist yet.
  local tmp
  tmp="$(mktemp -d)"
  if [ -f "$VPOLV_SIGNATURES_FROM/$3" ]; then
    cp "$VPOLV_SIGNATURES_FROM/$3" "$tmp/released"
  elif ! unzip -p "$(ls "$VPOLV_SIGNATURES_FROM"/*.zip 2>/dev/null | head -n 1)" "$3" \
    >"$tmp/released" 2>/dev/null; then
    rm -rf "$tmp"
    fail "the release in $VPOLV_SIGNATURES_FROM has no $3"
  fi
  if ! osslsigncode extract-signature -in "$tmp/released" -out "$tmp/signature" \
    >"$tmp/log" 2>&1; then
    rm -rf "$tmp"
    fail "$3 of the release in $VPOLV_SIGNATURES_FROM carries no signature"
  fi
  # Its status is not used: without a CA file the signer's chain is not checked here, only
  # that the signature belongs to this file's contents.
  osslsigncode attach-signature -sigin "$tmp/signature" -in "$1" -out "$2" >"$tmp/log" 2>&1 || true
  if [ ! -f "$2" ] || grep -q "MISMATCH" "$tmp/log"; then
    rm -rf "$tmp" "$2"
    fail "the signature of the released $3 does not match this build's: the two differ"
  fi
  rm -rf "$tmp"
}

case "${1:-}" in
  -h | --help)
    usage
    exit 0
    ;;
  check)
    [ $# -eq 1 ] || { [ $# -eq 2 ] && [ "$2" = --unsigned ]; } ||
      { echo "usage: sign.sh check [--unsigned]" >&2 && exit 2; }
    check "${2:-}"
    exit 0
    ;;
  "" | -*)
    echo "usage: sign.sh check [--unsigned] | sign.sh ROOT FILE... | sign.sh --help" >&2
    exit 2
    ;;
esac
root="$1"
shift
how="$(mode)"
if [ "$how" = none ]; then exit 0; fi
if [ "$how" != attach ]; then
  settings
  scratch_folder
  pem="$(certificate "$scratch")"
  check_certificate "$pem" >/dev/null
fi
for file in "$@"; do
  signed="$root/$file.signed"
  rm -f "$signed"
  if [ "$how" = attach ]; then
    attach_one "$root/$file" "$signed" "$file"
  else
    sign_one "$root/$file" "$signed"
  fi
  mv "$signed" "$root/$file"
done

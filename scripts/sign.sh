#!/usr/bin/env bash
# Authenticode signatures of the release files (SHA-256), made with osslsigncode. The
# certificate comes from the environment:
#
#   VPOLV_SIGN_CERT           the code-signing certificate and its key, a PKCS#12 file
#   VPOLV_SIGN_PASS_FILE      a file holding its password (the first line)
#   VPOLV_SIGN_TIMESTAMP_URL  an RFC 3161 timestamp server (optional); a timestamped signature
#                             stays valid after the certificate expires
#   VPOLV_SIGNATURES_FROM     instead of a certificate: the folder of a release (its installers
#                             and its zip) whose signatures are attached to the same files of
#                             this build, which must match them; see docs/deployment.md
#
#   sign.sh check             checks the certificate and says in one line what signs the
#                             release: nothing, that certificate or that release's signatures
#   sign.sh ROOT FILE...      signs each FILE (a path below ROOT, as in the release: the zip's
#                             files below vpolv-<version>/) in place
#
# The password is read by the tools from its file: it is never on a command line or in the
# output. Any failure (a certificate that cannot be read, a wrong password, an expired
# certificate, a timestamp server that does not answer) stops with a message and status 1,
# leaving the files as they were.
set -euo pipefail

fail() {
  echo "sign.sh: $*" >&2
  exit 1
}

# The certificate, read with its password; its PEM on stdout.
certificate() {
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

check() {
  if [ -n "${VPOLV_SIGNATURES_FROM:-}" ]; then
    [ -d "$VPOLV_SIGNATURES_FROM" ] ||
      fail "VPOLV_SIGNATURES_FROM: $VPOLV_SIGNATURES_FROM is not a folder"
    echo "Signatures: attached from the release in $VPOLV_SIGNATURES_FROM"
    return
  fi
  if [ -z "${VPOLV_SIGN_CERT:-}" ]; then
    echo "Signatures: none (no VPOLV_SIGN_CERT): the release files are unsigned"
    return
  fi
  [ -r "$VPOLV_SIGN_CERT" ] && [ -f "$VPOLV_SIGN_CERT" ] ||
    fail "cannot read the certificate VPOLV_SIGN_CERT=$VPOLV_SIGN_CERT"
  [ -n "${VPOLV_SIGN_PASS_FILE:-}" ] ||
    fail "VPOLV_SIGN_PASS_FILE is not set: it names the file that holds the certificate's password"
  [ -r "$VPOLV_SIGN_PASS_FILE" ] && [ -f "$VPOLV_SIGN_PASS_FILE" ] ||
    fail "cannot read the password file VPOLV_SIGN_PASS_FILE=$VPOLV_SIGN_PASS_FILE"
  local pem subject end
  pem="$(certificate)"
  [ -n "$pem" ] || fail "$VPOLV_SIGN_CERT holds no certificate"
  subject="$(openssl x509 -noout -subject -nameopt oneline <<<"$pem" | sed 's/^subject= *//')"
  end="$(openssl x509 -noout -enddate <<<"$pem" | sed 's/^notAfter=//')"
  if ! openssl x509 -noout -checkend 0 <<<"$pem" >/dev/null; then
    fail "the certificate $VPOLV_SIGN_CERT ($subject) expired on $end"
  fi
  local start
  start="$(openssl x509 -noout -startdate <<<"$pem" | sed 's/^notBefore=//')"
  if [ "$(date -u -d "$start" +%s)" -gt "$(date -u +%s)" ]; then
    fail "the certificate $VPOLV_SIGN_CERT ($subject) is valid only from $start"
  fi
  echo "Signatures: $subject (certificate valid until $end)${VPOLV_SIGN_TIMESTAMP_URL:+, timestamped by $VPOLV_SIGN_TIMESTAMP_URL}"
}

# sign_one FILE OUT: FILE signed, into OUT.
sign_one() {
  local timestamp=()
  if [ -n "${VPOLV_SIGN_TIMESTAMP_URL:-}" ]; then
    timestamp=(-ts "$VPOLV_SIGN_TIMESTAMP_URL")
  fi
  local log
  log="$(mktemp)"
  if ! osslsigncode sign -pkcs12 "$VPOLV_SIGN_CERT" -readpass "$VPOLV_SIGN_PASS_FILE" \
    -h sha256 -n "vpolv catalog plug-in" "${timestamp[@]}" -in "$1" -out "$2" >"$log" 2>&1; then
    local why
    why="osslsigncode: $(grep -v '^[0-9A-F]*:error:' "$log" | grep -v '^Failed$' | head -n 3 |
      tr '\n' ' ')"
    if grep -q "timestamping failed\|HTTP failure\|Failed to get data" "$log"; then
      why="the timestamp server $VPOLV_SIGN_TIMESTAMP_URL did not give a timestamp"
    fi
    rm -f "$log"
    fail "cannot sign $1: $why"
  fi
  rm -f "$log"
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

if [ $# -eq 1 ] && [ "$1" = check ]; then
  check
  exit 0
fi
if [ $# -lt 1 ]; then
  echo "usage: sign.sh check | sign.sh ROOT FILE..." >&2
  exit 2
fi
root="$1"
shift
if [ -z "${VPOLV_SIGNATURES_FROM:-}" ] && [ -z "${VPOLV_SIGN_CERT:-}" ]; then
  exit 0
fi
for file in "$@"; do
  signed="$root/$file.signed"
  rm -f "$signed"
  if [ -n "${VPOLV_SIGNATURES_FROM:-}" ]; then
    attach_one "$root/$file" "$signed" "$file"
  else
    sign_one "$root/$file" "$signed"
  fi
  mv "$signed" "$root/$file"
done

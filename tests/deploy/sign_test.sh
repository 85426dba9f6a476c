#!/usr/bin/env bash
# The signatures of the release made by scripts/package.sh, with a throwaway CA, code-signing
# certificates it issued (in PKCS#12 files, and the same key in a SoftHSM token), a timestamp
# server on 127.0.0.1 (tests/support/timestamp_server.py) with a TSA certificate of the same CA,
# and the replacement of a release folder: whole, or not at all. Leaves the release signed with
# the token in RELEASE and the unsigned one in WORKDIR/unsigned, for the deployment tests; the
# repository's dist/ is never touched.
#
#   sign_test.sh WORKDIR RELEASE     (WORKDIR: scratch folder: certificates, token, outputs, copies)
set -uo pipefail
if [ $# -ne 2 ]; then
  echo "usage: sign_test.sh WORKDIR RELEASE" >&2
  exit 2
fi
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
rm -rf "$1"
mkdir -p "$1"
work="$(cd "$1" && pwd)"
release="$(realpath -m "$2")"

# shellcheck source=../support/checks.sh
source "$repo/tests/support/checks.sh"
# The signing settings are only those each case gives.
unset VPOLV_SIGN_CERT VPOLV_SIGN_PASS_FILE VPOLV_SIGN_TIMESTAMP_URL VPOLV_SIGNATURES_FROM \
  VPOLV_SIGN_PKCS11_MODULE VPOLV_SIGN_KEY VPOLV_SIGN_PIN_FILE VPOLV_TEST_SIGN_WITHOUT_TIMESTAMP
# packaging [VAR=VALUE...] [--OPTION...]: scripts/package.sh with those variables and options.
packaging() {
  local vars=() options=()
  for a in "$@"; do
    case "$a" in
      --*) options+=("$a") ;;
      *) vars+=("$a") ;;
    esac
  done
  (cd "$repo" && exec env "${vars[@]}" bash scripts/package.sh --out "$release" "${options[@]}")
}
# package NAME [VAR=VALUE...] [--OPTION...]: the same, its output in $work/NAME.out; the status
# is in $status.
package() {
  local name="$1"
  shift
  packaging "$@" >"$work/$name.out" 2>&1
  status=$?
}
digests() { (cd "${1:-$release}" 2>/dev/null && find . -type f | LC_ALL=C sort | xargs -r sha256sum); }
staging_left() { ls -d "$(dirname "$release")/.$(basename "$release").new."* 2>/dev/null; }
repo_dist="$(digests "$repo/dist")"
# After a packaging that did not complete: the earlier release whole, with a file of its own
# that a new release would not have, and no staging folder.
expect_earlier_kept() {
  expect "$1: the earlier release kept whole" "$before" "$(digests | grep -v earlier-release)"
  expect "$1: the earlier release's own files" yes "$([ -e "$release/earlier-release" ] && echo yes)"
  expect "$1: no staging folder left" "" "$(staging_left)"
}
# verifies FILE [UNIXTIME]: "timestamped" when its signature and its timestamp verify against the
# CA (now, or at that time), "yes" when its signature verifies and it has no timestamp, "no"
# otherwise.
verifies() {
  if ! osslsigncode verify -CAfile "$work/ca.pem" -TSA-CAfile "$work/ca.pem" ${2:+-time "$2"} \
    -in "$1" >"$work/verify.out" 2>&1; then
    echo no
  elif grep -q '^Timestamp Server Signature verification: ok' "$work/verify.out"; then
    echo timestamped
  else
    echo yes
  fi
}

# The CA; code-signing certificates it issued to the publisher of packaging/release.conf (valid
# and expired) and to another organisation, in PKCS#12 files with a password; its TSA
# certificate; a file that is not PKCS#12.
cd "$work" || exit 1
publisher="$(source "$repo/packaging/release.conf" && echo "$PUBLISHER")"
password="throwaway-$RANDOM-$RANDOM"
echo "$password" >pass
echo "not-the-password" >wrong-pass
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=vpolv throwaway CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >ext
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' >tsa-ext
# issue NAME SUBJECT DAYS EXTENSIONS: NAME.key and NAME.pem.
issue() {
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days "$3" -extfile "$4" \
    -out "$1.pem" 2>/dev/null
}
issue signer "/O=$publisher/CN=vpolv throwaway signer" 2 ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -days -1 -extfile ext -out expired.pem 2>/dev/null
issue other "/O=Someone Else/CN=vpolv throwaway signer" 2 ext
issue tsa "/O=$publisher/CN=vpolv throwaway timestamps" 2 tsa-ext
for cert in signer:signer expired:signer other:other; do
  openssl pkcs12 -export -inkey "${cert#*:}.key" -in "${cert%:*}.pem" -certfile ca.pem \
    -passout file:pass -out "${cert%:*}.p12"
done
head -c 2000 /dev/urandom >garbage.p12

# The signer's key and certificate in a SoftHSM token kept in this folder, with a PIN.
export SOFTHSM2_CONF="$work/softhsm2.conf"
mkdir tokens
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" >softhsm2.conf
pin="throwaway-pin-$RANDOM$RANDOM"
echo "$pin" >pin
echo 0000 >wrong-pin
module=/usr/lib/softhsm/libsofthsm2.so
if ! softhsm2-util --init-token --free --label vpolv-test --so-pin "$pin$pin" --pin "$pin" >/dev/null ||
  ! softhsm2-util --import signer.key --token vpolv-test --label signer --id 01 --pin "$pin" >/dev/null ||
  ! pkcs11-tool --module "$module" --token-label vpolv-test --login --pin "$pin" --write-object signer.pem \
    --type cert --id 01 --label signer >/dev/null 2>&1; then
  echo "sign_test.sh: cannot make the SoftHSM token (softhsm2 and opensc: scripts/install-deps.sh)" >&2
  exit 1
fi
uri="pkcs11:token=vpolv-test;object=signer"

# The timestamp server, on a port the system picks.
printf '%s\n' "[ tsa ]" "default_tsa = throwaway" "[ throwaway ]" "serial = $work/tsa-serial" \
  "signer_cert = $work/tsa.pem" "certs = $work/ca.pem" "signer_key = $work/tsa.key" \
  "signer_digest = sha256" "default_policy = 1.2.3.4.1" "digests = sha256, sha384, sha512" \
  "accuracy = secs:1" "ess_cert_id_alg = sha256" >tsa.cnf
echo 01 >tsa-serial
python3 "$repo/tests/support/timestamp_server.py" tsa.cnf tsa-port 2>tsa.err &
tsa_pid=$!
trap 'kill "$tsa_pid" 2>/dev/null' EXIT
until [ -s tsa-port ] || ! kill -0 "$tsa_pid" 2>/dev/null; do sleep 0.05; done
[ -s tsa-port ] || { cat tsa.err; echo "sign_test.sh: the timestamp server did not start" >&2; exit 1; }
timestamps="VPOLV_SIGN_TIMESTAMP_URL=http://127.0.0.1:$(cat tsa-port)/"
cd "$repo" || exit 1
good=(VPOLV_SIGN_CERT="$work/signer.p12" VPOLV_SIGN_PASS_FILE="$work/pass" "$timestamps")
token=(VPOLV_SIGN_PKCS11_MODULE="$module" VPOLV_SIGN_KEY="$uri;type=private"
  VPOLV_SIGN_CERT="$uri;type=cert" VPOLV_SIGN_PIN_FILE="$work/pin" "$timestamps")

echo "== unsigned on purpose (--unsigned): said in one line"
package unsigned --unsigned
expect "unsigned: status" 0 "$status"
expect "unsigned: lines saying so" 1 "$(grep -c 'unsigned' "$work/unsigned.out")"
rm -rf "$work/unsigned"
cp -r "$release" "$work/unsigned"
before="$(digests)"

echo "== interrupted once the files are made: the release folder as it was"
touch "$release/earlier-release"
packaging --unsigned >"$work/interrupted.out" 2>&1 &
pid=$!
until [ -n "$(staging_left)" ] || ! kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
pkill -TERM -f "scripts/package.sh --out $release"
wait "$pid"
expect "interrupted: status" 143 "$?"
expect_earlier_kept interrupted

echo "== failing between moving the earlier release aside and the new one in: the earlier one back"
package failed-move VPOLV_TEST_FAIL_BETWEEN_MOVES=1 --unsigned
expect "failed move: status" 1 "$status"
expect_earlier_kept "failed move"
rm -f "$release/earlier-release"

echo "== keys that cannot sign, or none: stop before the build, with the release folder as it was"
# NAME|MESSAGE|VARIABLES AND OPTIONS...
while IFS='|' read -r name message vars; do
  read -r -a vars <<<"$vars"
  package "$name" "${vars[@]}"
  expect "$name: status" 1 "$status"
  expect "$name: message" 1 "$(grep -c -e "$message" "$work/$name.out")"
  expect "$name: release folder unchanged" "$before" "$(digests)"
done <<EOF2
no-key|nothing to sign the release with|
unsigned-with-key|--unsigned, yet the environment names what signs|${good[*]} --unsigned
missing|cannot read the certificate|${good[*]} VPOLV_SIGN_CERT=$work/none.p12
no-password-file|cannot read the file of the certificate's password|${good[*]} VPOLV_SIGN_PASS_FILE=$work/none
not-pkcs12|cannot open the certificate|${good[*]} VPOLV_SIGN_CERT=$work/garbage.p12
wrong-password|wrong password|${good[*]} VPOLV_SIGN_PASS_FILE=$work/wrong-pass
expired|expired on|${good[*]} VPOLV_SIGN_CERT=$work/expired.p12
other-publisher|its organisation (O=) is 'Someone Else', packaging/release.conf names|${good[*]} VPOLV_SIGN_CERT=$work/other.p12
no-timestamp|VPOLV_SIGN_TIMESTAMP_URL is not set|VPOLV_SIGN_CERT=$work/signer.p12 VPOLV_SIGN_PASS_FILE=$work/pass
timestamp|timestamp server http://127.0.0.1:9/ did not give a timestamp|${good[*]} VPOLV_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/
token-wrong-pin|the token refused the PIN|${token[*]} VPOLV_SIGN_PIN_FILE=$work/wrong-pin
token-no-key|the token has no key|${token[*]} VPOLV_SIGN_KEY=pkcs11:token=vpolv-test;object=none;type=private
EOF2
expect "no staging folder left" "" "$(staging_left)"

echo "== signed with the key in the token: every program and installer verifies against the CA, timestamped"
package signed "${token[@]}"
expect "signed: status" 0 "$status"
expect "signed: says by whom" 1 \
  "$(grep -c '^Signatures: .*vpolv throwaway signer.*key in the token.*timestamped by' "$work/signed.out")"
unpacked="$work/unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && unzip -q "$release"/*.zip && cp "$release"/* .)
expect "SHA256SUMS" "" "$(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS 2>&1)"
signed=()
while read -r f; do signed+=("$f"); done < <(cd "$unpacked" && find . -name '*.dll' -o -name '*.exe' -o -name '*.msi' | LC_ALL=C sort)
for f in "${signed[@]}"; do
  expect "$f verifies" timestamped "$(verifies "$unpacked/$f")"
  case "$f" in
    *.msi)
      # The programs it installs were signed before they went in: they are the zip's.
      mkdir -p "$work/msi/$f"
      msiextract -C "$work/msi/$f" "$unpacked/$f" >/dev/null
      arch="$(basename "$f" .msi)"
      arch="${arch##*-}"
      for dll in $(cd "$work/msi/$f" && find . -name '*.dll'); do
        expect "$f: $dll is the zip's" "" "$(cmp "$work/msi/$f/$dll" "$unpacked"/vpolv-*/"$arch/$(basename "$dll")" 2>&1)"
      done
      ;;
  esac
done
expect "both DLLs and both installers among the signed files" 4 \
  "$(printf '%s\n' "${signed[@]}" | grep -c 'vpolv\.dll$\|\.msi$')"
for f in vpolv-*/x64/vpolv.dll vpolv-*-x86.msi; do
  cp "$unpacked"/$f "$work/changed"
  size="$(stat -c %s "$work/changed")"
  printf '\x5a' | dd of="$work/changed" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
  expect "$f with one byte changed verifies" no "$(verifies "$work/changed")"
done

echo "== signed with a PKCS#12 file: a DLL and an installer, timestamped, and without a timestamp (tests only)"
# Once the certificate has expired, only a timestamped signature still verifies.
expired="$(date -d '+3 days' +%s)"
# NAME|VERIFIES|VERIFIES AFTER THE CERTIFICATE EXPIRED|VARIABLES...
while IFS='|' read -r name verdict later vars; do
  read -r -a vars <<<"$vars"
  mkdir -p "$work/$name"
  unzip -q -j -d "$work/$name" "$work/unsigned"/*.zip 'vpolv-*/x64/vpolv.dll'
  cp "$work/unsigned"/vpolv-*-x86.msi "$work/$name/"
  (cd "$work/$name" && env "${vars[@]}" bash "$repo/scripts/sign.sh" . vpolv.dll vpolv-*-x86.msi) \
    >"$work/$name.out" 2>&1
  expect "$name: status" 0 "$?"
  for f in "$work/$name"/*; do
    expect "$name: $(basename "$f") verifies" "$verdict" "$(verifies "$f")"
    expect "$name: $(basename "$f") verifies later" "$later" "$(verifies "$f" "$expired")"
  done
done <<EOF2
pkcs12|timestamped|timestamped|${good[*]}
pkcs12-untimestamped|yes|no|VPOLV_SIGN_CERT=$work/signer.p12 VPOLV_SIGN_PASS_FILE=$work/pass VPOLV_TEST_SIGN_WITHOUT_TIMESTAMP=1
EOF2

echo "== rebuilt with the release's signatures attached: the same files"
cp -r "$release" "$work/published"
package attached VPOLV_SIGNATURES_FROM="$work/published"
expect "attached: status" 0 "$status"
expect "attached: the release's files" "$(digests "$work/published")" "$(digests)"
# Another release's signatures do not fit.
mkdir -p "$work/other"
cp "$work/published"/*.zip "$work/other/"
cp "$work/published"/vpolv-*-x86.msi "$work/other/$(basename "$work/published"/vpolv-*-x64.msi)"
cp "$work/published"/vpolv-*-x86.msi "$work/other/"
package mismatched VPOLV_SIGNATURES_FROM="$work/other"
expect "mismatched: status" 1 "$status"
expect "mismatched: message" 1 "$(grep -c 'does not match this build' "$work/mismatched.out")"

expect "the password and the PIN in no output" "" "$(grep -l -F -e "$password" -e "$pin" "$work"/*.out)"
expect "the repository's dist/ untouched" "$repo_dist" "$(digests "$repo/dist")"
finish

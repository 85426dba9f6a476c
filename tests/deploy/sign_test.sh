#!/usr/bin/env bash
# The signatures of the release made by scripts/package.sh, with a throwaway CA and
# code-signing certificate made here, and the replacement of a release folder: whole, or not at
# all. Leaves the signed release in RELEASE and the unsigned one in WORKDIR/unsigned, for the
# deployment tests; the repository's dist/ is never touched.
#
#   sign_test.sh WORKDIR RELEASE     (WORKDIR: scratch folder: certificates, outputs, copies)
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
# package NAME [VAR=VALUE...]: scripts/package.sh with only those signing variables, its
# output in $work/NAME.out; the status is in $status.
packaging() {
  (cd "$repo" && exec env -u VPOLV_SIGN_CERT -u VPOLV_SIGN_PASS_FILE -u VPOLV_SIGN_TIMESTAMP_URL \
    -u VPOLV_SIGNATURES_FROM "$@" bash scripts/package.sh --out "$release")
}
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
verifies() {
  if osslsigncode verify -CAfile "$work/ca.pem" -in "$1" >"$work/verify.out" 2>&1; then echo yes; else echo no; fi
}

# The CA, a code-signing certificate it issued (in a PKCS#12 file with a password), an expired
# one, and files that are not what they should be.
cd "$work" || exit 1
password="throwaway-$RANDOM-$RANDOM"
echo "$password" >pass
echo "not-the-password" >wrong-pass
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=vpolv throwaway CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=vpolv throwaway signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >ext
for cert in signer:2 expired:-1; do
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days "${cert#*:}" \
    -extfile ext -out "${cert%:*}.pem" 2>/dev/null
  openssl pkcs12 -export -inkey signer.key -in "${cert%:*}.pem" -certfile ca.pem -passout file:pass \
    -out "${cert%:*}.p12"
done
head -c 2000 /dev/urandom >garbage.p12
cd "$repo" || exit 1
good=(VPOLV_SIGN_CERT="$work/signer.p12" VPOLV_SIGN_PASS_FILE="$work/pass")

echo "== without a certificate: unsigned, said in one line"
package unsigned
expect "unsigned: status" 0 "$status"
expect "unsigned: lines saying so" 1 "$(grep -c 'unsigned' "$work/unsigned.out")"
rm -rf "$work/unsigned"
cp -r "$release" "$work/unsigned"
before="$(digests)"

echo "== interrupted once the files are made: the release folder as it was"
touch "$release/earlier-release"
packaging >"$work/interrupted.out" 2>&1 &
pid=$!
until [ -n "$(staging_left)" ] || ! kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
pkill -TERM -f "scripts/package.sh --out $release"
wait "$pid"
expect "interrupted: status" 143 "$?"
expect_earlier_kept interrupted

echo "== failing between moving the earlier release aside and the new one in: the earlier one back"
package failed-move VPOLV_TEST_FAIL_BETWEEN_MOVES=1
expect "failed move: status" 1 "$status"
expect_earlier_kept "failed move"
rm -f "$release/earlier-release"

echo "== certificates that cannot sign: stop, with the release folder as it was"
# NAME|MESSAGE|VARIABLES...
while IFS='|' read -r name message vars; do
  read -r -a vars <<<"$vars"
  package "$name" "${vars[@]}"
  expect "$name: status" 1 "$status"
  expect "$name: message" 1 "$(grep -c "$message" "$work/$name.out")"
  expect "$name: release folder unchanged" "$before" "$(digests)"
done <<EOF2
missing|cannot read the certificate|VPOLV_SIGN_CERT=$work/none.p12 VPOLV_SIGN_PASS_FILE=$work/pass
no-password-file|cannot read the password file|VPOLV_SIGN_CERT=$work/signer.p12 VPOLV_SIGN_PASS_FILE=$work/none
not-pkcs12|cannot open the certificate|VPOLV_SIGN_CERT=$work/garbage.p12 VPOLV_SIGN_PASS_FILE=$work/pass
wrong-password|wrong password|VPOLV_SIGN_CERT=$work/signer.p12 VPOLV_SIGN_PASS_FILE=$work/wrong-pass
expired|expired on|VPOLV_SIGN_CERT=$work/expired.p12 VPOLV_SIGN_PASS_FILE=$work/pass
timestamp|timestamp server http://127.0.0.1:9/ did not give a timestamp|${good[*]} VPOLV_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/
EOF2
expect "no staging folder left" "" "$(staging_left)"

echo "== signed: every program and installer verifies against the CA"
package signed "${good[@]}"
expect "signed: status" 0 "$status"
expect "signed: says by whom" 1 "$(grep -c '^Signatures: .*vpolv throwaway signer' "$work/signed.out")"
unpacked="$work/unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && unzip -q "$release"/*.zip && cp "$release"/* .)
expect "SHA256SUMS" "" "$(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS 2>&1)"
signed=()
while read -r f; do signed+=("$f"); done < <(cd "$unpacked" && find . -name '*.dll' -o -name '*.exe' -o -name '*.msi' | LC_ALL=C sort)
for f in "${signed[@]}"; do
  expect "$f verifies" yes "$(verifies "$unpacked/$f")"
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

expect "the password in no output" "" "$(grep -l -F "$password" "$work"/*.out)"
expect "the repository's dist/ untouched" "$repo_dist" "$(digests "$repo/dist")"
finish

#!/usr/bin/env bash
# Makes a throwaway certificate authority and a code-signing certificate it
# issued, valid for two days, for trying the signing of the packages:
#   scripts/make-test-certificate.sh DIR
# leaves DIR/ca.pem (the authority, for osslsigncode verify -CAfile) and
# DIR/signing.p12 (the certificate and its key), and prints the variables
# scripts/sign.sh and scripts/check-packages.sh read, for eval.
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: scripts/make-test-certificate.sh DIR" >&2; exit 2; }
dir="$(mkdir -p "$1" && cd "$1" && pwd)"
password="$(openssl rand -hex 16)"
(
  cd "$dir"
  openssl req -x509 -newkey rsa:3072 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Quillon throwaway test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
  openssl req -newkey rsa:3072 -nodes -keyout signing.key -out signing.csr \
    -subj "/CN=Quillon throwaway code signing"
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=codeSigning" >signing.ext
  openssl x509 -req -in signing.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile signing.ext -out signing.pem
  openssl pkcs12 -export -inkey signing.key -in signing.pem -certfile ca.pem \
    -passout "pass:$password" -out signing.p12
  rm -f ca.key signing.key signing.csr signing.ext ca.srl
) >"$dir/openssl.log" 2>&1 || { cat "$dir/openssl.log" >&2; exit 1; }
printf 'export QUILLON_SIGN_PKCS12=%q QUILLON_SIGN_PASSWORD=%q QUILLON_SIGN_CA=%q\n' \
  "$dir/signing.p12" "$password" "$dir/ca.pem"

#!/usr/bin/env bash
# Signs Windows programs, installers and MSI packages in place with
# osslsigncode (Authenticode, SHA-256), when a certificate is given:
#   QUILLON_SIGN_PKCS12          the code-signing certificate and its key (.p12)
#   QUILLON_SIGN_PASSWORD        its password
#   QUILLON_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server (optional)
# Without QUILLON_SIGN_PKCS12 each file is named as left unsigned, and the
# exit status is 0. A signing that fails leaves the file as it was and exits 1.
# Usage: scripts/sign.sh FILE...
set -euo pipefail

if [[ -z "${QUILLON_SIGN_PKCS12:-}" ]]; then
  for file in "$@"; do
    echo "sign.sh: no certificate (QUILLON_SIGN_PKCS12 is not set): $(basename "$file") stays unsigned" >&2
  done
  exit 0
fi
[[ -r "$QUILLON_SIGN_PKCS12" ]] || {
  echo "sign.sh: cannot read the certificate $QUILLON_SIGN_PKCS12" >&2
  exit 1
}
command -v osslsigncode >/dev/null || {
  echo "sign.sh: osslsigncode is not installed (scripts/install-deps.sh --packaging)" >&2
  exit 1
}

for file in "$@"; do
  signed="$file.signing"
  args=(sign -pkcs12 "$QUILLON_SIGN_PKCS12" -pass "${QUILLON_SIGN_PASSWORD:-}" -h sha256
        -n Quillon -i https://quillon.example.org/)
  [[ -n "${QUILLON_SIGN_TIMESTAMP_URL:-}" ]] && args+=(-ts "$QUILLON_SIGN_TIMESTAMP_URL")
  if ! osslsigncode "${args[@]}" -in "$file" -out "$signed" >"$signed.log" 2>&1; then
    echo "sign.sh: signing $(basename "$file") failed:" >&2
    cat "$signed.log" >&2
    rm -f "$signed" "$signed.log"
    exit 1
  fi
  rm -f "$signed.log"
  mv -f "$signed" "$file"
  echo "sign.sh: signed $(basename "$file")" >&2
done

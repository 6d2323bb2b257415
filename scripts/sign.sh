#!/usr/bin/env bash
# Signs Windows programs in place (Authenticode, SHA-256, with osslsigncode) with the
# publisher's certificate, which the environment names and the repository never holds:
#   TOVMIR_SIGN_CERT        the certificate, PEM, with the chain up to (not including) the root
#   TOVMIR_SIGN_KEY         its private key, PEM
#   TOVMIR_SIGN_PASS_FILE   a file holding the key's password (optional)
#   TOVMIR_SIGN_TIMESTAMP   an RFC 3161 time-stamping server's URL (optional), so that the
#                           signature outlives the certificate
#   scripts/sign.sh FILE...
# scripts/package.sh calls it for both tovmir.exe, the installers and their uninstallers
# when TOVMIR_SIGN_CERT and TOVMIR_SIGN_KEY are set.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

[ $# -gt 0 ] || die "usage: scripts/sign.sh FILE..."
[ -n "${TOVMIR_SIGN_CERT:-}" ] && [ -n "${TOVMIR_SIGN_KEY:-}" ] \
  || die "signing needs both TOVMIR_SIGN_CERT and TOVMIR_SIGN_KEY (PEM files)"
for f in "$TOVMIR_SIGN_CERT" "$TOVMIR_SIGN_KEY" "${TOVMIR_SIGN_PASS_FILE:-}"; do
  [ -z "$f" ] || [ -r "$f" ] || die "cannot read $f"
done
options=(-certs "$TOVMIR_SIGN_CERT" -key "$TOVMIR_SIGN_KEY" -h sha256
         -n tovmir -i https://tovmir.org/)
[ -n "${TOVMIR_SIGN_PASS_FILE:-}" ] && options+=(-readpass "$TOVMIR_SIGN_PASS_FILE")
[ -n "${TOVMIR_SIGN_TIMESTAMP:-}" ] && options+=(-ts "$TOVMIR_SIGN_TIMESTAMP")
for file in "$@"; do
  # Written beside the file, then moved over it: a failed signing leaves the file as it was.
  out=$file.signed
  rm -f "$out"
  if ! log=$(osslsigncode sign "${options[@]}" -in "$file" -out "$out" 2>&1); then
    rm -f "$out"
    die "signing $file failed: $log"
  fi
  chmod --reference="$file" "$out"
  mv "$out" "$file"
done

#!/bin/sh
# Signs launcher.exe with Authenticode (SHA-256) by Debian's osslsigncode, into a separate file:
# the unsigned file stays as built. Uses only options that osslsigncode 2.5 (bookworm) has.
#   sign.sh --check      says what is missing and exits 2, or exits 0 when signing can start
#   sign.sh IN OUT       signs IN into OUT
# The certificate comes from the environment: SIGN_PKCS12 (a PKCS#12 file), or SIGN_CERT and
# SIGN_KEY (certificate chain and private key); SIGN_PASSWORD_FILE holds the password of
# either; SIGN_TIMESTAMP_URL names an RFC 3161 timestamp server.
set -eu

needs() {
  echo "make sign: ${1:-no code-signing certificate given}. Give one of" >&2
  cat >&2 <<'TEXT'
  make sign SIGN_PKCS12=signer.p12 [SIGN_PASSWORD_FILE=password.txt]
  make sign SIGN_CERT=chain.pem SIGN_KEY=key.pem [SIGN_PASSWORD_FILE=password.txt]
and, to keep the signature valid after the certificate expires, an RFC 3161 timestamp server:
  SIGN_TIMESTAMP_URL=http://timestamp.example.com
It writes build/windows/launcher.signed.exe; build/windows/launcher.exe stays unsigned.
TEXT
  exit 2
}

readable() {
  [ -r "$1" ] || needs "cannot read $1"
}

if ! { [ $# -eq 1 ] && [ "$1" = --check ]; } && [ $# -ne 2 ]; then
  echo "usage: $0 --check | IN OUT" >&2
  exit 2
fi
pkcs12=${SIGN_PKCS12:-} cert=${SIGN_CERT:-} key=${SIGN_KEY:-}
password=${SIGN_PASSWORD_FILE:-} timestamp=${SIGN_TIMESTAMP_URL:-}
if [ -n "$pkcs12" ] && [ -n "$cert$key" ]; then
  needs "give SIGN_PKCS12, or SIGN_CERT and SIGN_KEY, not both"
elif [ -n "$pkcs12" ]; then
  readable "$pkcs12"
elif [ -n "$cert" ] && [ -n "$key" ]; then
  readable "$cert"
  readable "$key"
elif [ -n "$cert$key" ]; then
  needs "SIGN_CERT and SIGN_KEY go together"
else
  needs
fi
[ -z "$password" ] || readable "$password"
command -v osslsigncode >/dev/null || needs "osslsigncode is missing (apt-get install osslsigncode)"
[ "$1" = --check ] && exit 0

in=$1 out=$2
if [ -n "$pkcs12" ]; then set -- -pkcs12 "$pkcs12"; else set -- -certs "$cert" -key "$key"; fi
[ -z "$password" ] || set -- "$@" -readpass "$password"
[ -z "$timestamp" ] || set -- "$@" -ts "$timestamp"
rm -f "$out" "$out.part"
osslsigncode sign -h sha256 "$@" -in "$in" -out "$out.part" >/dev/null
mv "$out.part" "$out"
echo "signed: $out"

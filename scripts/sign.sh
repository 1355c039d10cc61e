#!/bin/sh
# Signs launcher.exe with Authenticode (SHA-256) by Debian's osslsigncode, into a separate file:
# the unsigned file stays as built. Uses only options that osslsigncode 2.5 (bookworm) has.
#   sign.sh --check      says what is missing and exits 2, or exits 0 when signing can start
#   sign.sh IN OUT       signs IN into OUT
# The certificate and key come from the environment, in one of three forms:
#   SIGN_PKCS12                           a PKCS#12 file holding both
#   SIGN_CERT and SIGN_KEY                a certificate chain file and a private key file
#   SIGN_PKCS11_MODULE and SIGN_PKCS11_KEY  a key kept in a token or HSM: the path of its
#     PKCS#11 module and a pkcs11: URI naming the key; the certificate is SIGN_CERT (a file)
#     or SIGN_PKCS11_CERT (a pkcs11: URI naming it in the token)
# SIGN_PASSWORD_FILE holds the key's password or the token's PIN, which never goes on a command
# line; SIGN_TIMESTAMP_URL names an RFC 3161 timestamp server.
set -eu

needs() {
  echo "make sign: ${1:-no code-signing certificate given}. Give one of" >&2
  cat >&2 <<'TEXT'
  make sign SIGN_PKCS12=signer.p12 [SIGN_PASSWORD_FILE=password.txt]
  make sign SIGN_CERT=chain.pem SIGN_KEY=key.pem [SIGN_PASSWORD_FILE=password.txt]
  make sign SIGN_PKCS11_MODULE=/path/to/module.so \
            SIGN_PKCS11_KEY='pkcs11:token=...;object=...;type=private' \
            SIGN_CERT=chain.pem (or SIGN_PKCS11_CERT='pkcs11:token=...;object=...;type=cert') \
            [SIGN_PASSWORD_FILE=pin.txt]
and, to keep the signature valid after the certificate expires, an RFC 3161 timestamp server:
  SIGN_TIMESTAMP_URL=http://timestamp.example.com
It writes build/windows/launcher.signed.exe; build/windows/launcher.exe stays unsigned.
TEXT
  exit 2
}

# readable FILE [WHAT]
readable() {
  [ -r "$1" ] || needs "cannot read ${2:+$2 }$1"
}

uri() {
  case "$2" in pkcs11:*) ;; *) needs "$1 must be a pkcs11: URI, not '$2'" ;; esac
}

if ! { [ $# -eq 1 ] && [ "$1" = --check ]; } && [ $# -ne 2 ]; then
  echo "usage: $0 --check | IN OUT" >&2
  exit 2
fi
pkcs12=${SIGN_PKCS12:-} cert=${SIGN_CERT:-} key=${SIGN_KEY:-}
module=${SIGN_PKCS11_MODULE:-} token_key=${SIGN_PKCS11_KEY:-} token_cert=${SIGN_PKCS11_CERT:-}
password=${SIGN_PASSWORD_FILE:-} timestamp=${SIGN_TIMESTAMP_URL:-}
if [ -n "$module$token_key$token_cert" ]; then
  [ -z "$pkcs12$key" ] || needs "a key in a token goes without SIGN_PKCS12 and SIGN_KEY"
  [ -n "$module" ] || needs "SIGN_PKCS11_MODULE, the path of the token's PKCS#11 module, is missing"
  readable "$module" "the PKCS#11 module"
  [ -n "$token_key" ] || needs "SIGN_PKCS11_KEY, the pkcs11: URI naming the key, is missing"
  uri SIGN_PKCS11_KEY "$token_key"
  if [ -n "$cert" ] && [ -n "$token_cert" ]; then
    needs "give SIGN_CERT or SIGN_PKCS11_CERT, not both"
  elif [ -n "$cert" ]; then
    readable "$cert"
  elif [ -n "$token_cert" ]; then
    uri SIGN_PKCS11_CERT "$token_cert"
  else
    needs "the key's certificate is missing: SIGN_CERT (a file) or SIGN_PKCS11_CERT (in the token)"
  fi
  openssl engine -t pkcs11 >/dev/null 2>&1 ||
    needs "OpenSSL's PKCS#11 engine is missing (apt-get install libengine-pkcs11-openssl)"
elif [ -n "$pkcs12" ] && [ -n "$cert$key" ]; then
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
if [ -n "$pkcs12" ]; then
  set -- -pkcs12 "$pkcs12"
elif [ -n "$module" ]; then
  # No -pkcs11engine: bookworm's osslsigncode fails to load the engine by its path ("bad engine
  # id"), while by default it loads OpenSSL's engine named pkcs11.
  set -- -pkcs11module "$module" -key "$token_key"
  if [ -n "$token_cert" ]; then
    set -- "$@" -pkcs11cert "$token_cert"
  else
    set -- "$@" -certs "$cert"
  fi
else
  set -- -certs "$cert" -key "$key"
fi
[ -z "$password" ] || set -- "$@" -readpass "$password"
[ -z "$timestamp" ] || set -- "$@" -ts "$timestamp"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
rm -f "$out"
if ! osslsigncode sign -h sha256 "$@" -in "$in" -out "$out.part" >"$log" 2>&1; then
  cat "$log" >&2
  # osslsigncode ends with "Failed" only; name the usual causes from the lines above it
  # (2.5 prints them on its standard output).
  if grep -q 'PIN incorrect' "$log"; then
    why="the token refused the PIN${password:+ in $password}"
  elif grep -q 'Unable to load PKCS#11 module' "$log"; then
    why="$module could not be loaded as a PKCS#11 module"
  elif grep -q 'private key was not found' "$log"; then
    why="the token holds no key matching SIGN_PKCS11_KEY=$token_key"
  else
    why="osslsigncode could not sign $in"
  fi
  echo "make sign: $why; nothing signed." >&2
  exit 1
fi
mv "$out.part" "$out"
echo "signed: $out"

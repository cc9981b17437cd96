#!/bin/sh
# Authenticode-signs a program with osslsigncode (SHA-256), as the build's
# last step when it has a certificate.
#   sign-code.sh <osslsigncode> <in> <out> <certificate> <key or ""> <password variable or "">
#                <time-stamp address or ""> <product name> <product site>
# The certificate is PEM with a PEM key, or PKCS#12 when no key is given.
# The password stays in the environment: osslsigncode reads it from a pipe,
# so it shows in no command line and no build file.
set -eu
tool="$1" in="$2" out="$3" cert="$4" key="$5" passvar="$6" tsa="$7" name="$8" site="$9"
set -- -h sha256 -n "$name" -i "$site"
if [ -n "$key" ]; then
  set -- "$@" -certs "$cert" -key "$key"
else
  set -- "$@" -pkcs12 "$cert"
fi
[ -z "$tsa" ] || set -- "$@" -ts "$tsa"
rm -f "$out.signing"
if [ -n "$passvar" ]; then
  if ! printenv "$passvar" >/dev/null; then
    echo "sign-code.sh: the environment has no $passvar (the key's password)" >&2
    exit 1
  fi
  printenv "$passvar" | tr -d '\n' | "$tool" sign "$@" -readpass /dev/stdin -in "$in" -out "$out.signing"
else
  "$tool" sign "$@" -in "$in" -out "$out.signing"
fi
mv -f "$out.signing" "$out"

#!/usr/bin/env bash
# Signs a PE file with a leaf of the test PKI.
# Usage: sign-file.sh <pki folder> <leaf> <in> <out> [stamp time "YYYY-MM-DD HH:MM:SS" | -] [tamper | -] [tsa]
# With a stamp time the signature carries an RFC 3161 time stamp made at that time by the time-stamping
# certificate <tsa> of the PKI (default tsa). "tamper" flips one byte of the signed code, leaving the signature
# intact; "damage" flips one byte of the last signature value (before at most 7 bytes of padding): the signer's in
# an unstamped signature, the time-stamping signer's in a stamped one; "damage-stamp" changes the stamp's own time inside its token (the token's signature
# no longer matches, the file's signature is untouched).
set -eu
pki="$1" leaf="$2" in="$3" out="$4" stamp="${5:--}" tamper="${6:--}" tsa="${7:-tsa}"
mkdir -p "$(dirname "$out")"
rm -f "$out"
args=(sign -certs "$pki/$leaf.certs.pem" -key "$pki/$leaf.key" -h sha256 -in "$in" -out "$out")
if [ "$stamp" != "-" ]; then
  faketime "$stamp" osslsigncode "${args[@]}" -TSA-certs "$pki/${tsa}_chain.pem" -TSA-key "$pki/$tsa.key" >/dev/null
else
  osslsigncode "${args[@]}" >/dev/null
fi
flip() {
  byte=$(dd if="$out" bs=1 skip="$1" count=1 2>/dev/null | od -An -tu1 | tr -d ' ')
  printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$out" bs=1 seek="$1" conv=notrunc 2>/dev/null
}
case "$tamper" in
  tamper) flip $(( $(stat -c %s "$in") / 2 )) ;;  # well inside the first section
  damage) flip $(( $(stat -c %s "$out") - 60 )) ;;
  damage-stamp)  # the last digit of the seconds of the token's GeneralizedTime (the clock ran on while signing)
    at=$(grep -obUaE "$(date -d "$stamp" +%Y%m%d%H%M)[0-9]{2}Z" "$out" | head -n 1 | cut -d: -f1)
    [ -n "$at" ] || { echo "sign-file.sh: no stamp time in $out" >&2; exit 1; }
    flip $(( at + 13 )) ;;
esac

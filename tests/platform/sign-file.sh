#!/usr/bin/env bash
# Signs a PE file with a leaf of the test PKI.
# Usage: sign-file.sh <pki folder> <leaf> <in> <out> [stamp time "YYYY-MM-DD HH:MM:SS" | -] [tamper]
# With a stamp time the signature carries an RFC 3161 time stamp made at that time. "tamper" flips one byte of the
# signed code, leaving the signature intact; "damage" flips one byte of the signer's signature value (the last
# field of an unstamped signature, before at most 7 bytes of padding).
set -eu
pki="$1" leaf="$2" in="$3" out="$4" stamp="${5:--}" tamper="${6:-}"
mkdir -p "$(dirname "$out")"
rm -f "$out"
args=(sign -certs "$pki/$leaf.certs.pem" -key "$pki/$leaf.key" -h sha256 -in "$in" -out "$out")
if [ "$stamp" != "-" ]; then
  faketime "$stamp" osslsigncode "${args[@]}" -TSA-certs "$pki/tsa_chain.pem" -TSA-key "$pki/tsa.key" >/dev/null
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
esac

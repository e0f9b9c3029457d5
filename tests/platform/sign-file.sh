#!/usr/bin/env bash
# Signs a PE file with a leaf of the test PKI.
# Usage: sign-file.sh <pki folder> <leaf> <in> <out> [stamp time "YYYY-MM-DD HH:MM:SS" | -] [tamper]
# With a stamp time the signature carries an RFC 3161 time stamp made at that time; "tamper" then flips one byte
# of the signed code, leaving the signature itself intact.
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
if [ "$tamper" = "tamper" ]; then
  # A byte well inside the first section (past the headers, before the signature at the end).
  offset=$(( $(stat -c %s "$in") / 2 ))
  byte=$(dd if="$out" bs=1 skip="$offset" count=1 2>/dev/null | od -An -tu1 | tr -d ' ')
  printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$out" bs=1 seek="$offset" conv=notrunc 2>/dev/null
fi

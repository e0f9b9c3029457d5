#!/usr/bin/env bash
# Makes the test PKI in <out>: a test root, a time-stamping certificate, code-signing leaves (good, expired, wrong
# usage) under it and a leaf under a second root that no test machine trusts. Leaves are issued with SHA-1: Wine
# skips its chain checks for SHA-256-issued certificates.
set -eu
out="$1"
mkdir -p "$out"
cd "$out"
rm -f ./*.pem ./*.key ./*.srl ./*.ext ./*.csr ./*.der

key() { openssl genrsa -out "$1.key" 2048 2>/dev/null; }
root() {  # name, subject
  key "$1"
  faketime "2010-01-01 00:00:00" openssl req -new -x509 -sha1 -key "$1.key" -subj "$2" -days 20000 -set_serial "0x$(openssl rand -hex 8)" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -out "$1.pem" 2>/dev/null
}
leaf() {  # name, issuer, subject, extended usage, [faketime]
  key "$1"
  openssl req -new -key "$1.key" -subj "$3" -out "$1.csr" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$4" > "$1.ext"
  local cmd=(openssl x509 -req -sha1 -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -set_serial "0x$(openssl rand -hex 8)"
    -extfile "$1.ext" -out "$1.pem")
  # Valid from well before the back-dated stamps, or (with a faketime) for one year from then.
  if [ -n "${5:-}" ]; then
    faketime "$5" "${cmd[@]}" -days 365 2>/dev/null
  else
    faketime "2020-01-01 00:00:00" "${cmd[@]}" -days 9000 2>/dev/null
  fi
  rm -f "$1.csr" "$1.ext"
}

root root "/CN=Welkin Test Root/O=Welkin Test Platform"
root stranger_root "/CN=Welkin Stranger Root/O=Welkin Test Platform"
# The time-stamping certificate must be valid at the back-dated stamp times.
key tsa
openssl req -new -key tsa.key -subj "/CN=Welkin Test Time Stamps" -out tsa.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' > tsa.ext
faketime "2014-01-01 00:00:00" openssl x509 -req -sha1 -in tsa.csr -CA root.pem -CAkey root.key \
  -set_serial "0x$(openssl rand -hex 8)" -extfile tsa.ext -days 9000 -out tsa.pem 2>/dev/null
rm -f tsa.csr tsa.ext
# A time-stamping certificate that anyone could make: self-signed, chaining to no trusted root.
key forged_tsa
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' > forged_tsa.ext
faketime "2014-01-01 00:00:00" openssl req -new -x509 -sha1 -key forged_tsa.key -subj "/CN=Welkin Test Time Stamps" \
  -days 9000 -set_serial "0x$(openssl rand -hex 8)" -extensions v3_forged -config <(printf '[req]\ndistinguished_name=dn\n[dn]\n[v3_forged]\n'; cat forged_tsa.ext) \
  -out forged_tsa.pem 2>/dev/null
rm -f forged_tsa.ext

leaf good root "/CN=Torvex, Inc./O=Torvex, Inc." codeSigning
leaf expired root "/CN=Torvex, Inc./O=Torvex, Inc." codeSigning "2015-01-01 00:00:00"
leaf wrong_usage root "/CN=Torvex, Inc./O=Torvex, Inc." serverAuth
leaf stranger stranger_root "/CN=Torvex, Inc./O=Torvex, Inc." codeSigning
openssl x509 -in root.pem -outform DER -out root.der
# The certificates each signature carries. The stranger's carries its root: a complete chain to an untrusted root
# (a partial chain is passed by this Wine's WinVerifyTrust).
for l in good expired wrong_usage; do cp "$l.pem" "$l.certs.pem"; done
cat stranger.pem stranger_root.pem > stranger.certs.pem
# The time-stamp chain is handed to osslsigncode as one file.
cat tsa.pem root.pem > tsa_chain.pem
cp forged_tsa.pem forged_tsa_chain.pem

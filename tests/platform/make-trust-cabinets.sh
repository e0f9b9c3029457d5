#!/usr/bin/env bash
# Makes the trust-list test files in <out>: trusted.js lists naming the test root, and cabinets that carry them.
# Usage: make-trust-cabinets.sh <pki folder> <out>
#   list_v8.js, list_v9.js   lists of version 8 and 9 that accept the test root
#   signed_list_v8.cab       signed cabinet with list_v8.js as trusted.js
#   signed_list_v7.cab       signed cabinet with a list that is not newer than the built-in one
#   signed_no_list.cab       signed cabinet without trusted.js
#   readonly_list_v8.cab     unsigned cabinet whose TRUSTED.JS entry carries the read-only attribute
#   two_lists.cab            unsigned cabinet with two entries named trusted.js (lists of version 8 and 9)
#   corrupt.cab              not a cabinet at all
set -eu
pki="$1" out="$2"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
thumb=$(openssl x509 -in "$pki/root.pem" -noout -fingerprint -sha1 | cut -d= -f2 | tr -d :)

list() {  # version, file
  printf '/* trust list for tests */\r\n[ VER ]\r\n%s\r\n[ORG]\r\nTorvex, Inc.\r\n[SHA]\r\n%s\r\n// SIG // Begin signature block\r\n// SIG // AAAA\r\n' \
    "$1" "$thumb" > "$2"
}
list 8 "$out/list_v8.js"
list 9 "$out/list_v9.js"
list 7 "$work/v7.js"

cabinet() {  # cabinet, entry name, source
  mkdir -p "$work/c"
  rm -f "$work/c/"*
  cp "$3" "$work/c/$2"
  rm -f "$1"
  (cd "$work/c" && gcab -c -n "$1" "$2")
}
sign() {  # in, out
  rm -f "$2"
  osslsigncode sign -certs "$pki/good.pem" -key "$pki/good.key" -h sha256 -in "$1" -out "$2" >/dev/null
}
cabinet "$work/v8.cab" trusted.js "$out/list_v8.js" && sign "$work/v8.cab" "$out/signed_list_v8.cab"
cabinet "$work/v7.cab" trusted.js "$work/v7.js" && sign "$work/v7.cab" "$out/signed_list_v7.cab"
printf 'nothing here\r\n' > "$work/readme.txt"
cabinet "$work/none.cab" readme.txt "$work/readme.txt" && sign "$work/none.cab" "$out/signed_no_list.cab"

# Read-only entry: the attribute word of the first file record (at coffFiles + 14) gets FILE_ATTRIBUTE_READONLY.
cabinet "$out/readonly_list_v8.cab" TRUSTED.JS "$out/list_v8.js"
coff=$(od -An -tu4 -j16 -N4 "$out/readonly_list_v8.cab" | tr -d ' ')
printf '\041\000' | dd of="$out/readonly_list_v8.cab" bs=1 seek=$((coff + 14)) conv=notrunc 2>/dev/null

mkdir -p "$work/two"
cp "$out/list_v8.js" "$work/two/trusted.js"
cp "$out/list_v9.js" "$work/two/Trusted.JS"
rm -f "$out/two_lists.cab"
(cd "$work/two" && gcab -c -n "$out/two_lists.cab" trusted.js Trusted.JS)

head -c 300 /dev/urandom > "$out/corrupt.cab"

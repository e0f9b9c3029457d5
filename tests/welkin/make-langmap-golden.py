#!/usr/bin/env python3
"""Writes the golden language-map file used by the language-map tests, from first principles (its own RC4-style
keystream, feedback cipher and hashlib's MD5), so that the test fixtures built with the C++ cipher are checked
against bytes the C++ code did not make. Prints a C++ array initialiser."""
import hashlib
import struct

KEY = b"{5E2B8C17-A4D3-49fe-B821-0C7F3A9E6D54}\0"  # the language-map key with its NUL: 39 key bytes
XML = (b'<?xml version="1.0" encoding="UTF-8"?><packageinfo buildkey="GOLDEN-KEY"><packagedetails><terms>'
       b'<termsinfo lcidterms="1033_terms_std" lcid="1033" terms="std" affid="77" domain="gold.example" '
       b'culture="en-US" lang="en-us"/></terms></packagedetails></packageinfo>')


def keystream(key):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + key[i % len(key)] + s[i]) % 256
        s[i], s[j] = s[j], s[i]
    i = j = 0
    while True:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        yield s[(s[i] + s[j]) % 256]


def encipher(data, key):
    ks = keystream(key)
    feedback = next(ks)
    out = bytearray()
    for p in data:
        feedback ^= p
        k1, k2 = next(ks), next(ks)
        out.append(((k1 ^ feedback) + k2) % 256)
    return bytes(out)


body = encipher(XML, KEY)
blob = b"LMXM" + b"\0\0\0\0" + struct.pack("<Q", len(body)) + hashlib.md5(body).digest() + body
print("// %d bytes: the header and the enciphered body of:\n// %s" % (len(blob), XML.decode()))
for k in range(0, len(blob), 16):
    print("    " + ", ".join("0x%02x" % b for b in blob[k:k + 16]) + ",")

#pragma once
// The registry record: one REG_BINARY value of a 32-byte header ("QZRG", u32 version 1, u32 payload length N,
// u32 value type, the MD5 of the whole record taken with these 16 digest bytes zeroed) and the N payload bytes
// enciphered with the registry-record key, one round, from a freshly keyed cipher. The scrambled registry key and
// the registry-value codec both store their records through these two functions.
//
// Encoding: 0 done, 87 null output, 122 output smaller than N + 32, 6000 enciphering failed (N = 0 included).
// Decoding: 0 done, 13 not a valid record (shorter than 32 bytes, digest, length or magic wrong; the version is not
// examined), 87 null record, 234 data buffer smaller than N (the size already says N), 6001 deciphering failed.
#include <windows.h>

#include <cstdint>

namespace Basalt {
inline constexpr DWORD kRecordHeaderSize = 32;
inline constexpr DWORD kRecordDigestOffset = 16;
}  // namespace Basalt

DWORD EncodeRegRecord(const BYTE* payload, DWORD length, DWORD valueType, BYTE* output, DWORD outputSize);

// Zeroes the digest bytes of the caller's record once it is at least 32 bytes long. With a size pointer the size is
// set to N, and with a data buffer as well the payload is deciphered into it; without a size nothing is deciphered.
DWORD DecodeRegRecord(BYTE* record, DWORD recordLength, DWORD* valueType, BYTE* data, DWORD* size);

#pragma once
// Reads registry-like typed values (strings, DWORDs, binary data, optionally enciphered) from one section of an ini
// file. The caller fills the record: status (when not 0 every query answers it), the section name in UTF-8 and the
// file path in the ANSI code page (WideToMultiByteAlloc makes both).
//
// A value N is stored as entry "_N" (the 36-byte header: "QZRG", version, datum size, registry type, enciphered
// flag, MD5 of the stored datum; an ini struct with its own checksum) and entry N, the datum: an ini struct for
// binary or enciphered data, else plain text (strings in UTF-8, DWORDs in decimal). A value without its header is
// plain UTF-8 text. Enciphered data is deciphered only in memory, with the ini-record key.
//
// Codes: 0; 1 no size pointer; 8 buffer smaller than the datum or no memory; 13 not a valid datum (digest, size or
// magic wrong, or an ini read that failed without saying why); 234 a string that does not fit (the size says the
// need); 1396 a value name without an ANSI form; 6001 deciphering failed; otherwise the ini read's own error.
#include <windows.h>

#include <memory>

#include "foundation/basalt/IniReader.h"

struct CQzIniValueStore {
    DWORD status = 0;
    std::unique_ptr<char[]> section;
    std::unique_ptr<char[]> iniPath;

    // Like a registry query: the type, the data (strings as UTF-16), the bytes written or needed in *size; without
    // a buffer only type, enciphered flag and size are reported.
    DWORD QueryValue(const wchar_t* name, DWORD* type, BYTE* buffer, DWORD* size, DWORD* enciphered);

    // Checks the stored datum against the header (its digest field is zeroed) and deciphers it into `out` (it may
    // be the datum itself). Type and size (the header's) are reported once the checks pass; 234 when *size is
    // smaller than the datum.
    static DWORD DecodeValue(const BYTE* datum, DWORD datumSize, DWORD* type, BYTE* out,
                             Basalt::IniRecordHeader& header, DWORD* size);

    // Grows the scratch buffer to at least `bytes`; it never shrinks. False when it cannot grow.
    bool EnsureBuffer(DWORD bytes);

    std::unique_ptr<BYTE[]> scratch;
    DWORD scratchSize = 0;
};

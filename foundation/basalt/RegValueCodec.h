#pragma once
// The registry-value codec: reads and writes registry values through the ANSI registry calls while callers pass
// and receive UTF-16 names and string data (sizes in bytes, terminators included), and can keep a value as a
// registry record (RegistryRecord.h) instead of plain data. String data is stored in the thread's ANSI code page.
//
// Flag word: kQzRegRecord - the value is a record (a stored value that is not REG_BINARY is refused with 13;
// without the flag a record reads back as its raw REG_BINARY bytes); kQzRegView32 / kQzRegView64 - the registry
// view to open (32 wins when both are set). Other bits belong to the writer that stores through this codec.
//
// Codes: Win32 codes; 87 bad arguments, 13 not a record, 234 buffer too small (the size holds the need), 14 or 8 no
// memory, 6000/6001 cipher failures, otherwise the registry's and the conversions' own codes. Nothing is logged.
#include "foundation/basalt/RegKeyHolder.h"

#include <windows.h>

inline constexpr DWORD kQzRegRecord = 1;
inline constexpr DWORD kQzRegView32 = 8;
inline constexpr DWORD kQzRegView64 = 16;

// The access mask for `rights` in the view that the flags select.
REGSAM QzRegViewAccess(DWORD flags, REGSAM rights);

// Reads a value like RegQueryValueExW: the type (a record's stored type), UTF-16 string data, the bytes written or
// needed in *size, 234 when the buffer is too small; a null data pointer with a size asks for the size only. Null or
// empty path: the root key itself; null or empty name: the default value.
DWORD QzRegReadValueExW(HKEY root, const wchar_t* path, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size,
                        DWORD flags);

// Reads through an open holder (its status first when it is not 0). With `convert`, REG_SZ and REG_MULTI_SZ data
// (and plain REG_EXPAND_SZ) come back as UTF-16; without it, as stored. A record read needs a size or a type (87).
DWORD ReadScrambledRegValue(const Basalt::RegKeyHolder& holder, const char* name, DWORD* type, BYTE* data,
                            DWORD* size, DWORD flags, bool convert);

// Writes through an open holder (its status first when it is not 0). With `convert`, UTF-16 REG_SZ and
// REG_MULTI_SZ data (and plain REG_EXPAND_SZ) are stored as ANSI text. A record needs data and a non-zero size (87),
// is stored as REG_BINARY and keeps the caller's type.
DWORD WriteScrambledRegValue(const Basalt::RegKeyHolder& holder, const char* name, DWORD type, const BYTE* data,
                             DWORD size, DWORD flags, bool convert);

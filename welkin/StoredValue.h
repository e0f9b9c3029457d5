#pragma once
// Values that the PC maker may store either way: plain, or as a registry record (RegValueCodec.h). The stored type
// decides: a REG_BINARY value is read as a record, so one that does not decode (tampered, damaged, cut) is refused
// as the codec refuses a record; a value of any other type is read as plain data (REG_SZ, REG_EXPAND_SZ and
// REG_MULTI_SZ as UTF-16 text, anything else as its bytes).
#include <windows.h>

// The codec's read flag for the value as it is stored now: kQzRegRecord for a REG_BINARY value, else 0 (also when
// the value cannot be queried, so that the read itself reports why). Default registry view.
DWORD RecordFlagOf(HKEY root, const wchar_t* path, const wchar_t* name);

#pragma once
// A registry key whose every value is stored as a registry record (see RegistryRecord.h): one REG_BINARY value
// that keeps the caller's type, with text payloads in UTF-8. The typed getters and setters of the handle read and
// write records transparently; a value that is not REG_BINARY reads as 13. Value names go to the ANSI registry
// calls in the thread's code page.
#include "foundation/basalt/RegKey.h"

namespace Basalt {

class CObfuscatedRegKeyImpl : public internal::CRegKeyImpl {
public:
    // Needs a size or a type (87). REG_SZ and REG_MULTI_SZ come back as UTF-16 text, sizes in bytes.
    LONG QueryValue(const wchar_t* name, DWORD* type, void* data, ULONG* size) override;
    // Null data or a size of 0 -> 87; REG_SZ is stored up to its terminator, whatever the size says.
    LONG SetValue(const wchar_t* name, DWORD type, const void* data, ULONG size) override;

    // The registry record coders this key stores through.
    static DWORD EncodeRecord(const BYTE* payload, DWORD length, DWORD valueType, BYTE* output, DWORD outputSize);
    static DWORD DecodeRecord(BYTE* record, DWORD recordLength, DWORD* valueType, BYTE* data, DWORD* size);
};

class CObfuscatedRegKey : public CRegKey {
public:
    CObfuscatedRegKey();
    ~CObfuscatedRegKey() override;
};

}  // namespace Basalt

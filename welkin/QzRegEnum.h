#pragma once
// Lists the direct subkeys or the values of any HKLM-style key, always in the 64-bit registry view. A key that
// cannot be opened gives an empty answer; nothing else is reported.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

// The value walk's registry call behind a virtual operation named after it. The default object makes the real call;
// tests hand in their own.
class CQzRegistryEnumAPI {
public:
    virtual ~CQzRegistryEnumAPI() = default;
    virtual LONG RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength, DWORD* reserved, DWORD* type,
                               BYTE* data, DWORD* size);
};

class CQzRegistryEnum {
public:
    // An empty wrapper means the real call.
    explicit CQzRegistryEnum(std::shared_ptr<CQzRegistryEnumAPI> api = {});

    // Subkey names (up to 260 characters) in enumeration order; the first error ends the list.
    std::vector<std::wstring> EnumRegkeys(HKEY hive, const std::wstring& subkey);
    // Value name -> text: a REG_DWORD as its decimal text, a REG_SZ as its text (data up to 520 bytes); other types
    // and empty texts are left out. A value too large for the buffers is skipped; any other error ends the walk with
    // what it has read (a key deleted under the walk answers every index with 1018).
    std::map<std::wstring, std::wstring> EnumRegValues(HKEY hive, const std::wstring& subkey);

private:
    std::shared_ptr<CQzRegistryEnumAPI> api_;
};

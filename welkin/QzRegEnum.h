#pragma once
// Lists the direct subkeys or the values of any HKLM-style key, always in the 64-bit registry view. A key that
// cannot be opened gives an empty answer; nothing else is reported.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

class CQzRegistryEnum {
public:
    // Subkey names (up to 260 characters) in enumeration order; the first error ends the list.
    std::vector<std::wstring> EnumRegkeys(HKEY hive, const std::wstring& subkey);
    // Value name -> text: a REG_DWORD as its decimal text, a REG_SZ as its text (data up to 520 bytes); other types
    // and empty texts are left out.
    std::map<std::wstring, std::wstring> EnumRegValues(HKEY hive, const std::wstring& subkey);
};

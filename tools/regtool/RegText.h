#pragma once
// The demo's .reg-style configuration text, read apart from the registry. Lines (UTF-8, CR LF or LF):
//
//     ; comment                                   blank lines and comments are skipped
//     [HKLM\Software\Torvex\Halvard\Oem]          a key in the 64-bit view ([HKLM32\...] for the 32-bit view)
//     "facmode"=dword:00000001                    plain values: dword:<1-8 hex digits>, sz:"text"
//     "OEMMgr"=record:dword:00000001              scrambled records: record:dword:<hex>, record:sz:"text"
//     [-HKLM\Software\Torvex\Halvard\Oem\Manage]  deletes the key and everything below it
//     [INI:Config:%ProgramData%\x\log.ini]         the values after it go into section "Config" of that ini file,
//     "Severity"=record:dword:00000001            as scrambled ini records (record: values only)
//
// A value belongs to the last key or ini line above it; a value with no such line before it, or after a delete
// line, is an error. Any line that is none of the above is an error, reported with its number; nothing is half-read.
#include <windows.h>

#include <string>
#include <vector>

struct RegTextKey {
    bool wow32 = false;  // the 32-bit registry view
    std::wstring path;   // below HKEY_LOCAL_MACHINE, never empty
};

// An ini file and a section of it; the path as written (%NAME% is expanded when the value is applied).
struct RegTextIni {
    std::wstring section;  // never empty
    std::wstring path;     // never empty
};

struct RegTextAction {
    enum class Kind { DeleteKey, SetValue, SetIniValue };
    Kind kind = Kind::SetValue;
    RegTextKey key;  // DeleteKey and SetValue
    RegTextIni ini;  // SetIniValue, whose values are always records
    std::wstring name;  // never empty
    bool record = false;
    DWORD type = REG_DWORD;  // REG_DWORD or REG_SZ
    DWORD number = 0;
    std::wstring text;  // as written: %NAME% is expanded when the value is applied
};

struct RegText {
    std::vector<RegTextAction> actions;
    size_t errorLine = 0;  // 1-based; 0 when the whole text was read
    std::wstring error;
    bool Read() const { return errorLine == 0; }
};

RegText ParseRegText(const std::string& utf8);
// "INI:<section>:<path>" as an ini line gives it between its brackets; false when it is no ini line.
bool ParseRegTextIni(const std::wstring& text, RegTextIni& ini);
// A key name as a key line gives it ("HKLM\..." or "HKLM32\..."); false for another root or no path.
bool ParseRegTextKey(const std::wstring& text, RegTextKey& key);

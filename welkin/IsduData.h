#pragma once
// The "isdudata" template: a REG_SZ text under the AppInfo key of a registry family whose tokens "%name%" stand for
// the family's substitution values (the REG_SZ values under AppInfo\Substitute). UpdateIsduData expands it and
// writes the result back, as a registry record.
//
// The KVR family's substitution values of the first expansion in a boot are kept under the volatile key
// HKLM\SOFTWARE\Torvex\Volatile\KVR\Substitute (with its "QueryParams" subkey): an expansion against any key other
// than the KVR substitute key takes those values first, then the key's own for the tokens left.
//
// Capacities are in characters; on return they hold the characters the result needs (terminator included).
// Codes: 0; 87 bad argument or a key that cannot be opened; 234 the result does not fit (nothing written); 8 no
// memory; otherwise the registry's code.
#include <windows.h>

#include <string>
#include <vector>

inline constexpr wchar_t kVolatileSubstituteKey[] = L"SOFTWARE\\Torvex\\Volatile\\KVR\\Substitute";
inline constexpr wchar_t kKVRSubstituteKey[] = L"SOFTWARE\\Torvex\\KVR\\AppInfo\\Substitute";
inline constexpr wchar_t kHalvardSubstituteKey[] = L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute";
inline constexpr wchar_t kKVRAppInfoKey[] = L"SOFTWARE\\Torvex\\KVR\\AppInfo";
inline constexpr wchar_t kHalvardAppInfoKey[] = L"SOFTWARE\\Torvex\\Halvard\\AppInfo";
inline constexpr DWORD kIsduDataResultChars = 2080;

struct TokenPair {
    std::wstring token;  // "%name%"
    std::wstring value;
};

// Expands the family's template (the KVR family's result also goes to the Halvard AppInfo key). The read's or the
// expansion's code when nothing is written; 0 once written (the writes' results are not used).
DWORD UpdateIsduData();

// With `useVolatile`, the expansion through the volatile copy (made, from the KVR substitute key, only when this
// call creates the volatile key); without it, ExpandTemplateFromKey. `readRecords` reads the values as records.
DWORD ExpandSubstituteTemplate(const wchar_t* keyPath, const wchar_t* templateText, BOOL readRecords, wchar_t* out,
                               DWORD* capacity, BOOL useVolatile);
DWORD ExpandTemplateFromKey(const wchar_t* keyPath, const wchar_t* templateText, BOOL readRecords, wchar_t* out,
                            DWORD* capacity);
// The template with every token of the key's REG_SZ values replaced (64-bit view). A key without values leaves the
// template as it is.
DWORD ExpandRegistryTemplate(const wchar_t* keyPath, const wchar_t* templateText, BOOL readRecords, wchar_t* out,
                             DWORD* capacity);
// One pair per named value of the open key that reads as REG_SZ (at most *count names are read; *count becomes the
// number of pairs).
DWORD CollectRegistryTokens(const std::vector<std::wstring>& names, std::vector<TokenPair>& pairs, HKEY key,
                            DWORD* count, BOOL readRecords);
// Each pair in order replaces every occurrence of its token (exact case); a value's own text is not searched again
// for the same token, later pairs do see it. Without `out` only the needed capacity is reported.
DWORD ReplaceTokens(const wchar_t* templateText, const TokenPair* pairs, DWORD count, wchar_t* out, DWORD* capacity);
// Non-overlapping occurrences of the token; 0 for a null or empty argument.
size_t CountOccurrences(const wchar_t* text, const wchar_t* token);
// Copies one value (type and data) between open keys; the read's or the write's code.
DWORD CopyRegistryValue(HKEY source, HKEY target, const wchar_t* name);
// "HKLM\path", "HKEY_CURRENT_USER\path" and the other root names (any case) give that root and the rest; any other
// path is taken whole under HKLM. FALSE without a backslash, with nothing after it, or when the subkey does not fit
// `subkey` (260 characters).
BOOL ParseRootKeyName(const wchar_t* keyPath, wchar_t* subkey, HKEY* root);

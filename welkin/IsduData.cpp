#include "welkin/IsduData.h"

#include <cwchar>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/RegValueCodec.h"
#include "welkin/QzRegWriter.h"
#include "welkin/utils.h"
#include "welkin/welkinmodule.h"

namespace {

constexpr DWORD kTemplateBytes = 2080;
constexpr DWORD kValueBytes = 2080;
constexpr size_t kSubkeyChars = 260;
constexpr size_t kTokenChars = 520;

const wchar_t* const kVolatileValues[] = {L"domain", L"lcid", L"lang", L"affid"};
const wchar_t* const kVolatileQueryValues[] = {L"affid", L"lang", L"langid", L"lcid"};

struct RootName {
    const wchar_t* name;
    HKEY root;
};
const RootName kRootNames[] = {
    {L"HKCR", HKEY_CLASSES_ROOT},   {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKCU", HKEY_CURRENT_USER},   {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKCC", HKEY_CURRENT_CONFIG}, {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {L"HKLM", HKEY_LOCAL_MACHINE},  {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKU", HKEY_USERS},           {L"HKEY_USERS", HKEY_USERS},
};

// Copies the values that exist; missing ones are skipped.
void CopyValues(HKEY source, HKEY target, const wchar_t* const* names, size_t count) {
    for (size_t k = 0; k < count; ++k) CopyRegistryValue(source, target, names[k]);
}

// The volatile copy of the KVR substitution values, made once per boot: only by the call that creates the key.
void MakeVolatileCopy(HKEY volatileKey) {
    Basalt::RegistryKey substitute;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKVRSubstituteKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      substitute.Receive()) == ERROR_SUCCESS)
        CopyValues(substitute.Get(), volatileKey, kVolatileValues, std::size(kVolatileValues));
    Basalt::RegistryKey volatileQuery;
    if (RegCreateKeyExW(volatileKey, L"QueryParams", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        nullptr, volatileQuery.Receive(), nullptr) != ERROR_SUCCESS)
        return;
    Basalt::RegistryKey query;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kKVRSubstituteKey) + L"\\QueryParams").c_str(), 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, query.Receive()) == ERROR_SUCCESS)
        CopyValues(query.Get(), volatileQuery.Get(), kVolatileQueryValues, std::size(kVolatileQueryValues));
}

bool IsKVRSubstituteKey(const wchar_t* keyPath) {
    wchar_t subkey[kSubkeyChars] = {};
    HKEY root = nullptr;
    return ParseRootKeyName(keyPath, subkey, &root) && root == HKEY_LOCAL_MACHINE &&
           EqualsIgnoringAsciiCase(subkey, kKVRSubstituteKey);
}

// Reads the family's template, expands it and writes the result to each AppInfo key given.
DWORD RefreshTemplate(const wchar_t* appInfoKey, const wchar_t* substituteKey,
                      std::initializer_list<const wchar_t*> targets) {
    wchar_t templateText[kTemplateBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kTemplateBytes;
    DWORD type = 0;
    DWORD rc = QzRegReadValueExW(HKEY_LOCAL_MACHINE, appInfoKey, L"isdudata", &type,
                                 reinterpret_cast<BYTE*>(templateText), &size, kQzRegRecord);
    if (rc != 0) return rc;
    if (type != REG_SZ) return ERROR_INVALID_DATA;
    std::unique_ptr<wchar_t[]> result(new (std::nothrow) wchar_t[kIsduDataResultChars]());
    if (!result) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD capacity = kIsduDataResultChars;
    rc = ExpandSubstituteTemplate(substituteKey, templateText, FALSE, result.get(), &capacity, TRUE);
    if (rc != 0) return rc;
    const DWORD bytes = static_cast<DWORD>((wcslen(result.get()) + 1) * sizeof(wchar_t));
    for (const wchar_t* target : targets)
        QzRegWriteValueExW(HKEY_LOCAL_MACHINE, target, L"isdudata", REG_SZ, reinterpret_cast<const BYTE*>(result.get()),
                           bytes, kQzRegRecord);
    return 0;
}

}  // namespace

DWORD UpdateIsduData() {
    if (IsPXSInstalled()) return RefreshTemplate(kKVRAppInfoKey, kKVRSubstituteKey, {kKVRAppInfoKey, kHalvardAppInfoKey});
    return RefreshTemplate(kHalvardAppInfoKey, kHalvardSubstituteKey, {kHalvardAppInfoKey});
}

DWORD ExpandSubstituteTemplate(const wchar_t* keyPath, const wchar_t* templateText, BOOL readRecords, wchar_t* out,
                               DWORD* capacity, BOOL useVolatile) {
    if (!keyPath || !templateText || !capacity) return ERROR_INVALID_PARAMETER;
    if (!useVolatile) return ExpandTemplateFromKey(keyPath, templateText, readRecords, out, capacity);

    Basalt::RegistryKey product;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex", 0, KEY_READ | KEY_WOW64_64KEY, product.Receive());
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    product.Reset();

    {
        Basalt::RegistryKey volatileKey;
        DWORD disposition = 0;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVolatileSubstituteKey, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, volatileKey.Receive(),
                            &disposition) != ERROR_SUCCESS)
            return ExpandTemplateFromKey(keyPath, templateText, readRecords, out, capacity);
        if (disposition == REG_CREATED_NEW_KEY) MakeVolatileCopy(volatileKey.Get());
    }
    if (IsKVRSubstituteKey(keyPath)) return ExpandTemplateFromKey(keyPath, templateText, readRecords, out, capacity);

    // Volatile values first; the given key fills the tokens left, within the caller's capacity.
    const DWORD callerCapacity = *capacity;
    std::unique_ptr<wchar_t[]> first(new (std::nothrow) wchar_t[callerCapacity + 1]());
    if (!first) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD firstCapacity = callerCapacity;
    const DWORD firstPass =
        ExpandTemplateFromKey(kVolatileSubstituteKey, templateText, readRecords, first.get(), &firstCapacity);
    if (firstPass != 0) {
        *capacity = firstCapacity;
        return firstPass;
    }
    *capacity = callerCapacity;
    return ExpandTemplateFromKey(keyPath, first.get(), readRecords, out, capacity);
}

DWORD ExpandTemplateFromKey(const wchar_t* keyPath, const wchar_t* templateText, BOOL readRecords, wchar_t* out,
                            DWORD* capacity) {
    return ExpandRegistryTemplate(keyPath, templateText, readRecords, out, capacity);
}

DWORD ExpandRegistryTemplate(const wchar_t* keyPath, const wchar_t* templateText, BOOL readRecords, wchar_t* out,
                             DWORD* capacity) {
    if (!keyPath || !templateText || !capacity) return ERROR_INVALID_PARAMETER;
    wchar_t subkey[kSubkeyChars] = {};
    HKEY root = nullptr;
    if (!ParseRootKeyName(keyPath, subkey, &root)) return ERROR_INVALID_PARAMETER;

    Basalt::RegistryKey key;
    if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS)
        return ReplaceTokens(templateText, nullptr, 0, out, capacity);
    DWORD valueCount = 0;
    DWORD longestName = 0;
    const LONG rc = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                                     &longestName, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);

    std::vector<std::wstring> names;
    std::vector<TokenPair> pairs;
    try {
        std::vector<wchar_t> name(longestName + 1);
        for (DWORD index = 0; index < valueCount; ++index) {
            DWORD chars = longestName + 1;
            if (RegEnumValueW(key.Get(), index, name.data(), &chars, nullptr, nullptr, nullptr, nullptr) ==
                ERROR_SUCCESS)
                names.emplace_back(name.data(), chars);
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD count = static_cast<DWORD>(names.size());
    const DWORD collected = CollectRegistryTokens(names, pairs, key.Get(), &count, readRecords);
    if (collected != 0) return collected;
    // A key without string values leaves the template as it is.
    static const TokenPair kNoPairs[1];
    return ReplaceTokens(templateText, pairs.empty() ? kNoPairs : pairs.data(), count, out, capacity);
}

DWORD CollectRegistryTokens(const std::vector<std::wstring>& names, std::vector<TokenPair>& pairs, HKEY key,
                            DWORD* count, BOOL readRecords) {
    if (!key || !count) return ERROR_INVALID_PARAMETER;
    const DWORD flags = kQzRegView64 | (readRecords ? kQzRegRecord : 0);
    const size_t wanted = *count < names.size() ? *count : names.size();
    try {
        for (size_t k = 0; k < wanted; ++k) {
            // A token that would be cut would stand for another name.
            if (names[k].size() + 2 >= kTokenChars) continue;
            wchar_t value[kValueBytes / sizeof(wchar_t) + 1] = {};
            DWORD size = kValueBytes;
            DWORD type = 0;
            if (QzRegReadValueExW(key, nullptr, names[k].c_str(), &type, reinterpret_cast<BYTE*>(value), &size,
                                  flags) != 0 ||
                type != REG_SZ)
                continue;
            pairs.push_back({L"%" + names[k] + L"%", value});
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    *count = static_cast<DWORD>(pairs.size());
    return 0;
}

DWORD ReplaceTokens(const wchar_t* templateText, const TokenPair* pairs, DWORD count, wchar_t* out, DWORD* capacity) {
    if (!templateText || (!pairs && count != 0) || !capacity) return ERROR_INVALID_PARAMETER;
    // Without a pair array nothing can be replaced: refused, the output left as it was.
    if (!pairs) return ERROR_INVALID_PARAMETER;
    if (out && *capacity > 0) out[0] = L'\0';
    std::wstring result;
    try {
        result = templateText;
        for (DWORD k = 0; k < count; ++k) {
            const std::wstring& token = pairs[k].token;
            if (token.empty() || result.find(token) == std::wstring::npos) continue;
            std::wstring rebuilt;
            rebuilt.reserve(result.size() + pairs[k].value.size() + 50);
            size_t from = 0;
            for (size_t at = result.find(token); at != std::wstring::npos; at = result.find(token, from)) {
                rebuilt.append(result, from, at - from);
                rebuilt += pairs[k].value;
                from = at + token.size();
            }
            rebuilt.append(result, from, std::wstring::npos);
            result = std::move(rebuilt);
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const DWORD needed = static_cast<DWORD>(result.size() + 1);
    const DWORD given = *capacity;
    *capacity = needed;
    if (!out) return 0;
    if (needed > given) return ERROR_MORE_DATA;
    wmemcpy(out, result.c_str(), needed);
    return 0;
}

size_t CountOccurrences(const wchar_t* text, const wchar_t* token) {
    if (!text || !token || !*token) return 0;
    const size_t length = wcslen(token);
    size_t found = 0;
    for (const wchar_t* at = wcsstr(text, token); at; at = wcsstr(at + length, token)) ++found;
    return found;
}

DWORD CopyRegistryValue(HKEY source, HKEY target, const wchar_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(source, name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    std::vector<BYTE> data(size);
    rc = RegQueryValueExW(source, name, nullptr, &type, data.data(), &size);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    return static_cast<DWORD>(RegSetValueExW(target, name, 0, type, data.data(), size));
}

BOOL ParseRootKeyName(const wchar_t* keyPath, wchar_t* subkey, HKEY* root) {
    if (!keyPath || !subkey || !root) return FALSE;
    const wchar_t* slash = wcschr(keyPath, L'\\');
    if (!slash || slash[1] == L'\0') return FALSE;
    const std::wstring first(keyPath, slash);
    const wchar_t* rest = keyPath;
    *root = HKEY_LOCAL_MACHINE;
    for (const RootName& candidate : kRootNames) {
        if (EqualsIgnoringAsciiCase(first.c_str(), candidate.name)) {
            *root = candidate.root;
            rest = slash + 1;
            break;
        }
    }
    const size_t length = wcslen(rest);
    if (length >= kSubkeyChars) return FALSE;
    wmemcpy(subkey, rest, length + 1);
    return TRUE;
}

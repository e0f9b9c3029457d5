#include "welkin/QzRegEnum.h"

#include <cstring>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/logging/LogStream.h"

using ETWLogging::kSeverityNormal;

namespace {

constexpr DWORD kNameChars = 260;
constexpr DWORD kDataBytes = 520;

}  // namespace

LONG CQzRegistryEnumAPI::RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameLength, DWORD* reserved,
                                       DWORD* type, BYTE* data, DWORD* size) {
    return ::RegEnumValueW(key, index, name, nameLength, reserved, type, data, size);
}

CQzRegistryEnum::CQzRegistryEnum(std::shared_ptr<CQzRegistryEnumAPI> api)
    : api_(api ? std::move(api) : std::make_shared<CQzRegistryEnumAPI>()) {}

std::vector<std::wstring> CQzRegistryEnum::EnumRegkeys(HKEY hive, const std::wstring& subkey) {
    std::vector<std::wstring> names;
    LOG_AT(kSeverityNormal, L"in :CQzRegistryEnum::EnumRegkeys  ");
    Basalt::RegistryKey key;
    const LONG opened =
        RegOpenKeyExW(hive, subkey.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, key.Receive());
    LOG_AT(kSeverityNormal, L"in :CQzRegistryEnum::EnumRegkeys retval after  RegOpenKeyEx%ld", opened);
    if (opened != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kNameChars + 1] = {};
        DWORD length = kNameChars;
        if (index == 0) LOG_AT(kSeverityNormal, L"in :CQzRegistryEnum::EnumRegkeys before  RegEnumKeyEx");
        const LONG result = RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (index == 0) LOG_AT(kSeverityNormal, L"in :CQzRegistryEnum::EnumRegkeys retval after  RegEnumKeyEx%ld", result);
        if (result != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
        LOG_AT(kSeverityNormal, L"in :CQzRegistryEnum::EnumRegkeys : key name%s", names.back().c_str());
    }
    return names;
}

std::map<std::wstring, std::wstring> CQzRegistryEnum::EnumRegValues(HKEY hive, const std::wstring& subkey) {
    std::map<std::wstring, std::wstring> values;
    Basalt::RegistryKey key;
    if (RegOpenKeyExW(hive, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kNameChars + 1] = {};
        DWORD nameLength = kNameChars;
        // One character more than the data may fill: a stored text need not be terminated.
        wchar_t data[kDataBytes / sizeof(wchar_t) + 1] = {};
        DWORD size = kDataBytes;
        DWORD type = REG_NONE;
        const LONG result = api_->RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type,
                                                reinterpret_cast<BYTE*>(data), &size);
        if (result == ERROR_MORE_DATA) continue;  // a value too large for the buffers is skipped
        if (result != ERROR_SUCCESS) break;
        std::wstring text;
        if (type == REG_DWORD && size == sizeof(DWORD)) {
            DWORD number = 0;
            std::memcpy(&number, data, sizeof number);
            text = std::to_wstring(number);
        } else if (type == REG_SZ) {
            data[size / sizeof(wchar_t)] = L'\0';
            text = data;
        }
        if (!text.empty()) values[std::wstring(name, nameLength)] = text;
    }
    return values;
}

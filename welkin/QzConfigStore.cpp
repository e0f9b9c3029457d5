#include "welkin/QzConfigStore.h"

#include <cwctype>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/logging/LogStream.h"

using ETWLogging::kSeverityError;
using ETWLogging::kSeverityNormal;
using ETWLogging::kSeverityWarning;

namespace {

constexpr wchar_t kMainKey[] = L"SOFTWARE\\Torvex\\Platform\\QzSvcHost";
constexpr wchar_t kExclusionListKey[] = L"OobeExclusionList";
constexpr DWORD kStringBytes = 1022;
constexpr DWORD kKeyNameChars = 256;
constexpr DWORD kValueNameChars = 16384;

std::wstring Lowered(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

}  // namespace

std::vector<std::wstring> SplitServiceList(const std::wstring& list) {
    std::vector<std::wstring> names;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = list.find(L';', start);
        const size_t stop = end == std::wstring::npos ? list.size() : end;
        if (stop > start) names.push_back(list.substr(start, stop - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return names;
}

CQzConfigStore::CQzConfigStore(bool allGroups) : allGroups_(allGroups) { _Init(std::wstring()); }

DWORD CQzConfigStore::getServiceList(std::list<std::wstring>& services) const {
    services.clear();
    for (const auto& [group, members] : groups_)
        for (const auto& [name, text] : members) services.push_back(name);
    return ERROR_SUCCESS;
}

void CQzConfigStore::_Init(const std::wstring& groupName) {
    HKEY opened = nullptr;
    if (_RegOpenKey(HKEY_LOCAL_MACHINE, kMainKey, opened, false) != ERROR_SUCCESS) return;
    Basalt::RegistryKey mainKey(opened);

    _RegQueryValue(mainKey.Get(), L"InstallDir", installDir_);
    DWORD enable = 0;
    if (_RegQueryValue(mainKey.Get(), L"PXSEnable", enable) == ERROR_SUCCESS) {
        pxsEnable_ = enable != 0;
    } else {
        pxsEnable_ = TRUE;
        LOG_AT(kSeverityWarning, L"Failed to read PXSEnable reg value....");
    }
    WorkingSet& ws = workingSet_;
    getDwordValueWithMinMaxCheck(mainKey.Get(), L"PXSTimerBase", ws.timerBase, 300000, 1200000, 600000);
    getDwordValueWithMinMaxCheck(mainKey.Get(), L"PXSCpuLimit", ws.cpuLimit, 2, 10, 5);
    getDwordValueWithMinMaxCheck(mainKey.Get(), L"PXSCpuInterval", ws.cpuInterval, 5000, 10000, 5000);
    getDwordValueWithMinMaxCheck(mainKey.Get(), L"PXSRandomizationRange", ws.randomizationRange, 300000, 900000,
                                 600000);
    getDwordValueWithMinMaxCheck(mainKey.Get(), L"PXSlimitFactor", ws.limitFactor, 0, 200, 30);
    if (_RegQueryValue(mainKey.Get(), L"PXSBucketRange", ws.bucketRange) != ERROR_SUCCESS) {
        ws.bucketRange = 0x500000;
        LOG_AT(kSeverityWarning, L"Failed to read Bucket range reg value....");
    }
    getDwordValueWithMinMaxCheck(mainKey.Get(), L"PXSOptiamlOccuranceCount", ws.optimalOccuranceCount, 3, 10, 3);
    getDwordValueWithMinMaxCheck(mainKey.Get(), L"PXSProcessorIdleWaitTime", ws.processorIdleWaitTime, 30000,
                                 300000, 60000);

    std::vector<std::wstring> groups;
    const bool singleGroup = !allGroups_ && !groupName.empty();
    if (allGroups_) {
        if (!_enumKeys(mainKey.Get(), groups)) {
            LOG_AT(kSeverityError, L"CQzConfigStore::Init: Error in _enumKeys");
            return;
        }
    } else if (singleGroup) {
        groups.push_back(Lowered(groupName));
        HKEY groupKey = nullptr;
        ws.optimalBucketUpperLimit = 0;
        bool read = false;
        if (_RegOpenKey(HKEY_LOCAL_MACHINE, std::wstring(kMainKey) + L"\\" + groups.front(), groupKey, false) ==
            ERROR_SUCCESS) {
            const Basalt::RegistryKey held(groupKey);
            read = _RegQueryValue(held.Get(), L"PXSOptimalBucketUpperLimit", ws.optimalBucketUpperLimit) ==
                   ERROR_SUCCESS;
        }
        if (!read) {
            ws.optimalBucketUpperLimit = 0;
            LOG_AT(kSeverityWarning, L"Failed to read REG_PXS_OPTOMAL_BUCKET_UPPER_LIMIT_VALUE_NAME reg value....");
        }
    } else {
        return;
    }

    LOG_AT(kSeverityNormal,
           L"Working set configuration values : PXSEnable=%d, PXSTimerBase=%lu, PXSCpuLimit=%lu, PXSCpuInterval=%lu, "
           L"m_dwWsRandomizationRange=%lu, m_dwLimitFactor=%lu, m_dwOptimalBucketUpperLimit=%lu, "
           L"m_dwWsBucketRange=%lu, m_dwOptimalOccuranceCount=%lu, m_dwProcessIdleWaitTime=%lu",
           pxsEnable_, ws.timerBase, ws.cpuLimit, ws.cpuInterval, ws.randomizationRange, ws.limitFactor,
           ws.optimalBucketUpperLimit, ws.bucketRange, ws.optimalOccuranceCount, ws.processorIdleWaitTime);
    mainKey.Reset();
    LOG_AT(kSeverityNormal, L"The number of groups in the group list ....:%u", static_cast<unsigned>(groups.size()));

    for (const std::wstring& group : groups) {
        HKEY groupKey = nullptr;
        if (_RegOpenKey(HKEY_LOCAL_MACHINE, std::wstring(kMainKey) + L"\\" + group, groupKey, false) !=
            ERROR_SUCCESS)
            break;
        const Basalt::RegistryKey held(groupKey);
        ServiceMap members;
        if (!_LoadServiceInfo(held.Get(), members)) break;
        services_.insert(members.begin(), members.end());
        groups_.emplace(group, std::move(members));
        if (singleGroup && !loadOobeExclusionList(group, exclusionList_))
            LOG_AT(kSeverityError, L"Failed to load the oobe exclusion list for the group ... :%s", group.c_str());
    }
}

bool CQzConfigStore::_LoadServiceInfo(HKEY groupKey, ServiceMap& services) {
    std::wstring list;
    if (_RegQueryValue(groupKey, nullptr, list) != ERROR_SUCCESS) {
        LOG_AT(kSeverityError, L"CQzConfigStore::_LoadServiceInfo: Error loading default service list");
        return false;
    }
    ServiceMap values;
    if (!_enumValues(groupKey, values)) return false;
    for (const std::wstring& name : SplitServiceList(list)) {
        const auto found = values.find(name);
        services.emplace(name, found == values.end() ? std::wstring() : found->second);
    }
    return true;
}

bool CQzConfigStore::loadOobeExclusionList(const std::wstring& group, std::list<std::wstring>& names) {
    const std::wstring path = std::wstring(kMainKey) + L"\\" + group + L"\\" + kExclusionListKey;
    HKEY opened = nullptr;
    if (_RegOpenKey(HKEY_LOCAL_MACHINE, path, opened, false) != ERROR_SUCCESS) {
        LOG_AT(kSeverityError, L"Failed to open exclusion list reg key ...Path:%s", path.c_str());
        return false;
    }
    const Basalt::RegistryKey key(opened);
    LOG_AT(kSeverityWarning, L"Enumerating oobe exclusion list .. reg key path :%s", path.c_str());
    if (!_enumValues(key.Get(), names)) {
        LOG_AT(kSeverityWarning, L"Failed to enum exclusion list values ... reg key path:%s", path.c_str());
        return false;
    }
    LOG_AT(kSeverityWarning, L"Successfully enumerated OOBE exclusion list ....");
    return true;
}

bool CQzConfigStore::getDwordValueWithMinMaxCheck(HKEY key, const wchar_t* name, DWORD& value, DWORD min, DWORD max,
                                                  DWORD fallback) {
    DWORD read = 0;
    if (_RegQueryValue(key, name, read) != ERROR_SUCCESS) {
        value = fallback;
        LOG_AT(kSeverityWarning, L"Failed to read reg value....Name:%s", name);
        return false;
    }
    value = (read >= min && read <= max) ? read : fallback;
    return true;
}

LONG CQzConfigStore::_RegOpenKey(HKEY hive, const std::wstring& path, HKEY& key, bool create) {
    key = nullptr;
    LONG result = create ? RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
                         : RegOpenKeyExW(hive, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (result == ERROR_SUCCESS && !key) result = ERROR_INVALID_HANDLE;
    if (result != ERROR_SUCCESS) LOG_AT(kSeverityError, L"CQzConfigStore::_RegOpenKey: Error '%ld'", result);
    return result;
}

LONG CQzConfigStore::_RegQueryInfoKey(HKEY key, DWORD* subkeys, DWORD* values) {
    const LONG result =
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subkeys, nullptr, nullptr, values, nullptr, nullptr, nullptr,
                         nullptr);
    if (result != ERROR_SUCCESS) LOG_AT(kSeverityError, L"CQzConfigStore::_RegQueryInfoKey: Error '%ld'", result);
    return result;
}

LONG CQzConfigStore::_RegQueryValue(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD type = REG_NONE;
    DWORD datum = 0;
    DWORD size = sizeof datum;
    LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&datum), &size);
    if (result == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof datum)) result = ERROR_INVALID_DATA;
    if (result != ERROR_SUCCESS) {
        LOG_AT(kSeverityError, L"CQzConfigStore::_RegQueryValue: Error '%ld' ,ValueName:%s", result,
               name ? name : L"");
        return result;
    }
    value = datum;
    return ERROR_SUCCESS;
}

LONG CQzConfigStore::_RegQueryValue(HKEY key, const wchar_t* name, std::wstring& text) {
    wchar_t buffer[kStringBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kStringBytes;
    const LONG result = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    if (result != ERROR_SUCCESS) {
        LOG_AT(kSeverityError, L"CQzConfigStore::_RegQueryValue: Error '%ld' ,ValueName:%s", result,
               name ? name : L"");
        return result;
    }
    buffer[size / sizeof(wchar_t)] = L'\0';
    text = Lowered(buffer);
    return ERROR_SUCCESS;
}

bool CQzConfigStore::_enumKeys(HKEY key, std::vector<std::wstring>& names) {
    DWORD count = 0;
    if (_RegQueryInfoKey(key, &count, nullptr) != ERROR_SUCCESS) {
        LOG_AT(kSeverityError, L"CQzConfigStore::_enumKeys: failed in _RegQueryInfoKey");
        return false;
    }
    for (DWORD index = 0; index < count; ++index) {
        wchar_t name[kKeyNameChars] = {};
        DWORD length = kKeyNameChars;
        const LONG result = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) {
            LOG_AT(kSeverityError, L"CQzConfigStore::_enumKeys: Error '%ld'", result);
            return false;
        }
        names.push_back(Lowered(std::wstring(name, length)));
    }
    return true;
}

namespace {

// Walks the key's values by index: each name (lower-cased) with its datum through the store's string reader.
template <class Sink>
bool EnumerateValues(CQzConfigStore& store, HKEY key, Sink sink) {
    DWORD count = 0;
    if (store._RegQueryInfoKey(key, nullptr, &count) != ERROR_SUCCESS) {
        LOG_AT(kSeverityError, L"CQzConfigStore::_enumValues: failed in _RegQueryInfoKey");
        return false;
    }
    std::wstring name(kValueNameChars, L'\0');
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = kValueNameChars;
        const LONG result = RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) {
            LOG_AT(kSeverityError, L"CQzConfigStore::_enumValues: Error '%ld'", result);
            return false;
        }
        const std::wstring valueName(name.c_str(), length);
        std::wstring datum;
        if (store._RegQueryValue(key, valueName.c_str(), datum) != ERROR_SUCCESS) {
            LOG_AT(kSeverityError, L"CQzConfigStore::_enumValues: Error retrieving value for '%s'", valueName.c_str());
            return false;
        }
        sink(Lowered(valueName), std::move(datum));
    }
    return true;
}

}  // namespace

bool CQzConfigStore::_enumValues(HKEY key, std::list<std::wstring>& data) {
    return EnumerateValues(*this, key, [&data](std::wstring, std::wstring datum) { data.push_back(std::move(datum)); });
}

bool CQzConfigStore::_enumValues(HKEY key, ServiceMap& data) {
    return EnumerateValues(*this, key,
                           [&data](std::wstring name, std::wstring datum) { data.emplace(std::move(name), std::move(datum)); });
}

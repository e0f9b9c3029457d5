#include "foundation/logging/ETWConfigurationListener.h"

#include "foundation/basalt/RegKey.h"
#include "foundation/logging/LoggingIf.h"

namespace ETWLogging {

CETWConfigurationListener::CETWConfigurationListener(const internal::ETWAppProperties& properties)
    : properties_(properties) {}

void CETWConfigurationListener::onChange(DWORD enable, DWORD level, ULONG) {
    if (!logger_) return;
    logger_->setEnabled(enable != 0);
    logger_->setSeverity(level);

    HKEY root = nullptr;
    std::wstring provider;
    getKey(root, provider);
    readOverrides(root, provider);
    std::wstring group, identity;
    logger_->getGroupName(group);
    logger_->getIdentityName(identity);
    if (!group.empty()) readOverrides(root, provider + L"\\" + group);
    if (!identity.empty()) readOverrides(root, provider + L"\\" + identity);
}

bool CETWConfigurationListener::attach(CLoggingIf_ex* logger) {
    if (logger_ || !logger) return false;
    logger_ = logger;
    return true;
}

void CETWConfigurationListener::getKey(HKEY& root, std::wstring& path) {
    root = properties_.rootKey;
    path = properties_.providerKeyPath;
}

void CETWConfigurationListener::readOverrides(HKEY root, const std::wstring& path) {
    if (!logger_) return;
    Basalt::CRegKey key;
    if (key.Open(root, path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS) return;
    DWORD value = 0;
    if (key.QueryDWORDValue(L"Enable", value) == ERROR_SUCCESS) logger_->setEnabled(value != 0);
    if (key.QueryDWORDValue(L"Severity", value) == ERROR_SUCCESS) logger_->setSeverity(value);
}

}  // namespace ETWLogging

#include "foundation/logging/ETWAppProperties.h"

#include <shlobj.h>

#include "foundation/basalt/RegKey.h"
#include "foundation/basalt/ShlObjAPI.h"

namespace ETWLogging::internal {

namespace {

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Torvex.logging";
constexpr wchar_t kEtlFileName[] = L"qzlogs.etl";
constexpr wchar_t kDefaultSessionKey[] = L"SOFTWARE\\Torvex\\Logging";
constexpr wchar_t kDefaultControllerKey[] = L"SOFTWARE\\Torvex\\Logging\\Controller";
constexpr wchar_t kDefaultProviderKey[] = L"SOFTWARE\\Torvex\\Logging\\Provider";
constexpr wchar_t kLogsBelowProgramData[] = L"\\Torvex\\QZLOGS";
constexpr wchar_t kEtlBelowProgramData[] = L"\\Torvex\\QZLOGS\\ETW";
constexpr wchar_t kDefaultOwnerMutex[] = L"Global\\Torvex.{0696D115-BE52-46c3-BFEE-D73A305B6581}";
constexpr wchar_t kDefaultSessionName[] = L"Torvex.{E4367DA7-2B80-47f3-86D2-7626A18FC6F4}";
// {491FB070-54CC-11E0-B8AF-0800200C9A66}
constexpr GUID kDefaultSessionId = {0x491FB070, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
// {E16CA450-55CC-11E0-B8AF-0800200C9A66}
constexpr GUID kDefaultProvider = {0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

// ASCII letters folded; the application names are ASCII.
bool SameNameIgnoringCase(const std::wstring& a, const wchar_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - L'a' + L'A');
        if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - L'a' + L'A');
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

bool ReadText(Basalt::CRegKey& key, const wchar_t* name, std::wstring& text) {
    return key.QueryStringValue(name, text) == ERROR_SUCCESS;
}

}  // namespace

bool ETWAppProperties::init(const wchar_t* name) {
    if (!applicationName.empty()) return false;
    const ETWAppProperties before = *this;
    applicationName = name && *name ? name : kDefaultApplication;
    bool taken = getProgramDataFolder(programDataFolder);
    if (taken) {
        std::wstring path;
        buildKeyPath(path, nullptr);
        Basalt::CRegKey key;
        taken = key.Open(rootKey, path.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS ? readSettings(key) : setDefaults();
    }
    // A half-taken name would refuse every later try, the creator's retry as the default application among them.
    if (!taken) *this = before;
    return taken;
}

bool ETWAppProperties::getProgramDataFolder(std::wstring& folder) {
    Basalt::KnownFolderPath known;
    if (FAILED(Basalt::ShlObjAPI().SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr,
                                                        known.Receive())) ||
        !known)
        return false;
    folder = known.Get();
    return true;
}

bool ETWAppProperties::readSettings(Basalt::CRegKey& key) {
    Basalt::CRegKey session, provider, controller;
    bool all = session.Open(key.Key(), L"Session", KEY_QUERY_VALUE) == ERROR_SUCCESS;
    all = provider.Open(key.Key(), L"Provider", KEY_QUERY_VALUE) == ERROR_SUCCESS && all;
    all = controller.Open(key.Key(), L"Controller", KEY_QUERY_VALUE) == ERROR_SUCCESS && all;
    buildKeyPath(sessionKeyPath, L"Session");
    buildKeyPath(controllerKeyPath, L"Controller");
    buildKeyPath(providerKeyPath, L"Provider");
    overrideKeyPath = sessionKeyPath;

    if (!ReadText(controller, L"Log Path", logPath)) logPath = programDataFolder + kLogsBelowProgramData;
    if (!ReadText(controller, L"ETL Path", etlPath)) etlPath = programDataFolder + kEtlBelowProgramData;
    all = ReadText(controller, L"Controller Path", controllerPath) && all;
    all = ReadText(controller, L"Owner Mutex Name", ownerMutexName) && all;
    all = session.QueryGUIDValue(L"Session ID Guid", sessionIdGuid) == ERROR_SUCCESS && all;
    all = ReadText(session, L"Session Name", sessionName) && all;
    all = provider.QueryGUIDValue(L"Provider Guid", providerGuid) == ERROR_SUCCESS && all;
    return all;
}

bool ETWAppProperties::setDefaults() {
    if (!SameNameIgnoringCase(applicationName, kDefaultApplication)) return false;
    sessionKeyPath = kDefaultSessionKey;
    controllerKeyPath = kDefaultControllerKey;
    providerKeyPath = kDefaultProviderKey;
    overrideKeyPath = sessionKeyPath;
    logPath = programDataFolder + kLogsBelowProgramData;
    etlPath = programDataFolder + kEtlBelowProgramData;
    controllerPath = etlPath + L"\\";
    ownerMutexName = kDefaultOwnerMutex;
    sessionIdGuid = kDefaultSessionId;
    sessionName = kDefaultSessionName;
    providerGuid = kDefaultProvider;
    return true;
}

void ETWAppProperties::getEtlFileName(std::wstring& name) { name = kEtlFileName; }

void ETWAppProperties::getSettingsKey(std::wstring& path) { path = kSettingsKey; }

void ETWAppProperties::buildKeyPath(std::wstring& path, const wchar_t* extra) {
    getSettingsKey(path);
    path += L"\\";
    path += applicationName;
    if (extra && *extra) {
        path += L"\\";
        path += extra;
    }
}

}  // namespace ETWLogging::internal

#pragma once
// The per-application settings of the ETW logger. An application "<name>" keeps them under
//     HKLM\SOFTWARE\Torvex.logging\<name>  with the subkeys "Session", "Provider" and "Controller"
// (plain registry values). The default application "PXS" needs no key: without one it takes the fixed defaults
// below. The Provider key path is where the configuration listener looks for its overrides; the Provider Guid is the
// control GUID the logger registers. The other settings are kept for the trace controller, which lies outside the
// logger.
#include <windows.h>

#include <string>

namespace Basalt {
class CRegKey;
}

namespace ETWLogging::internal {

class ETWAppProperties {
public:
    static constexpr wchar_t kDefaultApplication[] = L"PXS";

    ETWAppProperties() = default;
    ETWAppProperties(const ETWAppProperties&) = default;
    ETWAppProperties& operator=(const ETWAppProperties&) = default;
    virtual ~ETWAppProperties() = default;

    // Takes the application's settings: from its key when that opens, else the defaults (which only "PXS" has).
    // False when a name is already set, the ProgramData folder is unknown, or the settings cannot be had; a failure
    // leaves the object as it was before, so that it can be tried again under another name.
    virtual bool init(const wchar_t* applicationName);
    virtual bool getProgramDataFolder(std::wstring& folder);
    // Reads the subkeys of an opened application key; true when every setting was read.
    virtual bool readSettings(Basalt::CRegKey& key);
    // The defaults of "PXS" (without regard to case); false for any other application.
    virtual bool setDefaults();
    // The trace file's name, for the controller: "qzlogs.etl".
    virtual void getEtlFileName(std::wstring& name);
    // "SOFTWARE\Torvex.logging".
    virtual void getSettingsKey(std::wstring& path);
    // The application's key path, with "\" + extra when extra is given.
    virtual void buildKeyPath(std::wstring& path, const wchar_t* extra);

    std::wstring applicationName;
    std::wstring programDataFolder;
    std::wstring sessionKeyPath;
    std::wstring controllerKeyPath;
    std::wstring providerKeyPath;
    std::wstring overrideKeyPath;
    std::wstring logPath;
    std::wstring etlPath;
    std::wstring controllerPath;
    std::wstring ownerMutexName;
    GUID sessionIdGuid{};
    std::wstring sessionName;
    GUID providerGuid{};
    HKEY rootKey = HKEY_LOCAL_MACHINE;
};

}  // namespace ETWLogging::internal

#pragma once
// What the ETW logger is told when a trace controller enables or disables it. CETWConfigurationListener applies the
// enable and the level to its logger, then the overrides of the registry: plain DWORD values "Enable" and
// "Severity" under the application's Provider key, then under Provider\<group>, then under Provider\<identity>
// (HKLM), each later key winning over the earlier ones. For the default application the Provider key is
// "SOFTWARE\Torvex\Logging\Provider".
#include <windows.h>

#include <string>

#include "foundation/logging/ETWAppProperties.h"

namespace ETWLogging {

class CLoggingIf_ex;

class LoggingConfigListenerIf {
public:
    // enable 0 or 1; level is the new threshold; flags are the controller's enable flags.
    virtual void onChange(DWORD enable, DWORD level, ULONG flags) = 0;
    virtual ~LoggingConfigListenerIf() = default;
};

class CETWConfigurationListener : public LoggingConfigListenerIf {
public:
    explicit CETWConfigurationListener(const internal::ETWAppProperties& properties);

    // Does nothing until a logger is attached.
    void onChange(DWORD enable, DWORD level, ULONG flags) override;
    // Only when none is held and the logger is not null.
    virtual bool attach(CLoggingIf_ex* logger);
    virtual void getKey(HKEY& root, std::wstring& path);
    // Applies "Enable" and "Severity" of the key where present; a key that does not open is skipped.
    virtual void readOverrides(HKEY root, const std::wstring& path);

private:
    internal::ETWAppProperties properties_;
    CLoggingIf_ex* logger_ = nullptr;
};

}  // namespace ETWLogging

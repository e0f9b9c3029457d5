#include "foundation/logging/LogBuilder.h"

#include <new>

#include "foundation/basalt/ObfuscatedRegKey.h"
#include "foundation/logging/ETWLogger.h"
#include "foundation/logging/FileLogger.h"

namespace ETWLogging {

namespace {

constexpr DWORD kFileMechanism = 1;
constexpr wchar_t kLoggingKey[] = L"SOFTWARE\\Torvex\\Logging";
constexpr wchar_t kMechanismValue[] = L"Logging Mechanism";

// The mechanism the machine asks for: a reader's answer, else the scrambled value of the logging key (a missing
// value reads 0). False when there is no reader and the key does not open.
bool ConfiguredMechanism(CConfigReaderIf* reader, DWORD& mechanism) {
    mechanism = 0;
    if (reader) {
        reader->getDword(kMechanismValue, mechanism);
        return true;
    }
    Basalt::CObfuscatedRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kLoggingKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
    key.QueryDWORDValue(kMechanismValue, mechanism);
    return true;
}

// Opens a new logger and hands it to the out slot, or destroys it.
bool OpenInto(CLoggingIf* fresh, const wchar_t* applicationName, const wchar_t* group, HMODULE module,
              const wchar_t* host, CLoggingIf*& logger) {
    if (!fresh) return false;
    auto* extended = dynamic_cast<CLoggingIf_ex*>(fresh);
    const bool opened = (extended && extended->openEx(applicationName, group, module, host, nullptr) == 0) ||
                        fresh->open(group, module, host, 0) == 0;
    if (!opened) {
        delete fresh;
        return false;
    }
    logger = fresh;
    logger->AddRef();
    return true;
}

bool CanTake(const wchar_t* group, const wchar_t* host, CLoggingIf* logger) {
    return !logger && !(group && !*group) && !(host && !*host);
}

}  // namespace

bool CreateFileLogger(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                      CLoggingIf*& logger) {
    return CanTake(group, host, logger) &&
           OpenInto(new (std::nothrow) CLogging, applicationName, group, module, host, logger);
}

bool CreateETWLogger(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                     CLoggingIf*& logger) {
    return CanTake(group, host, logger) &&
           OpenInto(new (std::nothrow) CETWLogging, applicationName, group, module, host, logger);
}

bool CDefaultLogBuilder::create(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD mechanism,
                                CLoggingIf*& logger, CConfigReaderIf* reader) {
    return createWithConfig(nullptr, group, module, host, mechanism, logger, reader);
}

bool CDefaultLogBuilder::createWithConfig(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                                          const wchar_t* host, DWORD mechanism, CLoggingIf*& logger,
                                          CConfigReaderIf* reader) {
    DWORD configured = 0;
    const bool fileLogger =
        mechanism == kFileMechanism || (ConfiguredMechanism(reader, configured) && configured == kFileMechanism);
    return fileLogger ? CreateFileLogger(applicationName, group, module, host, logger)
                      : CreateETWLogger(applicationName, group, module, host, logger);
}

}  // namespace ETWLogging

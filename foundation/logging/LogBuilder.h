#pragma once
// Builders make the process's logger once, at the first log call. The default builder chooses between the file
// logger and the ETW logger: the file logger only when the caller passes mechanism 1 or "Logging Mechanism" of
// HKLM "SOFTWARE\Torvex\Logging" (a scrambled record) reads 1; every other answer, a missing key or value
// included, gives the ETW logger. Tests replace the builder (see LoggerTesting.h).
#include "foundation/logging/LoggingIf.h"

namespace ETWLogging {

// Answers DWORD queries by value name in place of the logging registry key. The system itself passes none.
class CConfigReaderIf {
public:
    virtual ~CConfigReaderIf() = default;
    virtual bool getDword(const wchar_t* valueName, DWORD& value) = 0;
};

class CLogBuilderIf {
public:
    virtual ~CLogBuilderIf() = default;
    virtual bool create(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD mechanism,
                        CLoggingIf*& logger, CConfigReaderIf* reader) = 0;
};

class CLogBuilderIf_ex : public CLogBuilderIf {
public:
    virtual bool createWithConfig(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                                  const wchar_t* host, DWORD mechanism, CLoggingIf*& logger,
                                  CConfigReaderIf* reader) = 0;
};

class CDefaultLogBuilder : public CLogBuilderIf_ex {
public:
    // createWithConfig with no application name.
    bool create(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD mechanism, CLoggingIf*& logger,
                CConfigReaderIf* reader) override;
    bool createWithConfig(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                          DWORD mechanism, CLoggingIf*& logger, CConfigReaderIf* reader) override;
};

// Makes a file logger and opens it (openEx when it has the extended view, else open); on success it is stored in
// the out slot with one reference. False when the slot already holds a logger, group or host is an empty string
// (null is fine), or the logger cannot be made or opened.
bool CreateFileLogger(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                      CLoggingIf*& logger);
// The same for the ETW logger, whose failed openEx is tried once more as the default application (open).
bool CreateETWLogger(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                     CLoggingIf*& logger);

}  // namespace ETWLogging

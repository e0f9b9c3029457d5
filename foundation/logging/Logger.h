#pragma once
// The process-wide logger: its identity (set once by each program's entry), its holder (made on the first log call
// and kept until exit), and the functions a log site calls. Log sites use the LOG_AT macro of LogSite.h.
#include "foundation/logging/LoggingIf.h"

#include <type_traits>

namespace Basalt {
class ILoggingHandler;
}

namespace ETWLogging {

struct LoggerIdentity {
    const wchar_t* applicationName = nullptr;  // null: the ETW logger's default application
    const wchar_t* group = L"_no_group";
    HMODULE module = nullptr;  // null until start-up looks up the module holding this library
    const wchar_t* host = L"_no_host";
    DWORD mechanism = 0;  // 1 forces the file logger
};

struct LoggerHolder {
    CLoggingIf* logger = nullptr;
    Basalt::ILoggingHandler* basaltHandler = nullptr;
};

// Stores the five values as given (null group or host stay null); a null module stands for this library's own.
void InitLogging(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                 DWORD mechanism);

// Creates the holder and the logger once per process; later calls ignore their arguments. Null when the holder
// could not be allocated. A creation that throws is retried by the next call.
LoggerHolder* GetLoggerInstance(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                                const wchar_t* host, DWORD mechanism);
LoggerHolder* GetLogger();
// The holder if one exists now; never creates it (for clean-ups at exit).
LoggerHolder* CurrentLoggerHolder();

bool IsLogEnabled(DWORD severity);

DWORD LogFormatted(LoggerHolder* holder, DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                   const wchar_t* format, ...);
DWORD WriteLogEntry(LoggerHolder* holder, DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                    const wchar_t* format, va_list args);
DWORD WriteLogEntryRaw(LoggerHolder* holder, const wchar_t* file, const wchar_t* function, DWORD line,
                       DWORD severity, const wchar_t* message);

// Arguments go through C varargs: only scalars and pointers may be passed (a std::wstring would be garbage).
template <class... Args>
void LogMessage(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                Args... args) {
    static_assert(((!std::is_class_v<Args> && !std::is_union_v<Args>) && ...),
                  "log arguments must be scalars or pointers; pass .c_str() for strings");
    if (LoggerHolder* holder = GetLogger()) LogFormatted(holder, severity, file, function, line, format, args...);
}

}  // namespace ETWLogging

#include "foundation/logging/BasaltLogHandler.h"

#include "foundation/logging/Logger.h"

namespace ETWLogging {

CBasaltLogHandler& CBasaltLogHandler::Instance() {
    static CBasaltLogHandler instance;
    return instance;
}

void CBasaltLogHandler::log(DWORD level, const wchar_t* file, const wchar_t* function, DWORD line,
                            const wchar_t* text) {
    const DWORD severity = level <= 1 ? kSeverityNormal : level == 2 ? kSeverityError : kSeverityWarning;
    if (LoggerHolder* holder = GetLogger()) WriteLogEntryRaw(holder, file, function, line, severity, text);
}

CBasaltLogHandler::~CBasaltLogHandler() {
    LoggerHolder* holder = CurrentLoggerHolder();
    if (holder && holder->basaltHandler == this) {
        holder->basaltHandler = nullptr;
        Basalt::CLogger::UnregisterHandler(this);
    }
}

}  // namespace ETWLogging

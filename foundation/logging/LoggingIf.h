#pragma once
// The two logger interfaces that the file logger and the ETW logger implement, and the severities.
// A message passes when its severity is at least the logger's threshold; the threshold is clamped to 1..6.
// Slot order of the virtual operations is part of the contract (loggers and callers are built apart).
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <string>

#include "foundation/basalt/Format.h"

namespace ETWLogging {

enum : DWORD {
    kSeverityNormal = 1,
    kSeverityWarning = 2,
    kSeverityInformation = 3,
    kSeverityError = 4,
    kSeverityCritical = 5,
    kSeverityInformation6 = 6,
};

// "Normal", "Warning", "Information", "Error", "Critical", "Information"; null outside 1..6.
const wchar_t* SeverityName(DWORD severity);
DWORD ClampSeverity(DWORD threshold);

// A formatted message is cut to this many characters before a plain logger sees it.
constexpr size_t kMaxMessageChars = 2080;
// The fixed-severity operations format into a buffer of this many characters (terminator included).
constexpr size_t kFixedSeverityBufferChars = 4160;

class CLoggingIf {
public:
    virtual ~CLoggingIf() = default;
    virtual DWORD open(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD reserved) = 0;
    virtual DWORD registerProvider() = 0;
    virtual void getIdentityName(std::wstring& name) = 0;
    virtual void getGroupName(std::wstring& name) = 0;
    virtual DWORD close() = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() = 0;
    virtual void log(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                     ...) = 0;
    virtual DWORD logString(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                            const wchar_t* message) = 0;
    virtual bool isSeverityEnabled(DWORD severity) = 0;
    virtual void setMaxEntries(DWORD count) = 0;
    virtual DWORD getMaxEntries() = 0;
    virtual void setMaxSize(DWORD bytes) = 0;
    virtual DWORD getMaxSize() = 0;
    virtual void setSeverity(DWORD threshold) = 0;
    virtual DWORD getSeverity() = 0;
    virtual LONG AddRef() = 0;
    virtual LONG Release() = 0;
    // Fixed severities 1, 4, 2, 5, 3, in this slot order.
    virtual DWORD logNormal(const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format, ...) = 0;
    virtual DWORD logError(const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format, ...) = 0;
    virtual DWORD logWarning(const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format, ...) = 0;
    virtual DWORD logCritical(const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                              ...) = 0;
    virtual DWORD logInformation(const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                                 ...) = 0;
};

class LoggingConfigListenerIf;
struct EventRecord;

class CLoggingIf_ex : public CLoggingIf {
public:
    virtual DWORD openEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                         LoggingConfigListenerIf* listener) = 0;
    virtual DWORD logText(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                          const wchar_t* message) = 0;
    virtual DWORD writeEvent(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                             const wchar_t* format, va_list args) = 0;
    virtual DWORD writeEventSafe(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                                 const wchar_t* format, ...) = 0;
    virtual bool isSessionHandle(ULONG64 traceHandle) = 0;
    virtual DWORD onTraceControl(DWORD requestCode, void* buffer) = 0;
    virtual void setEventClass() = 0;
    virtual void getModuleFileName(std::wstring& name, HMODULE module, bool stripExtension) = 0;
    virtual void buildIdentityName() = 0;
    virtual DWORD unregisterProvider() = 0;
    virtual DWORD shutdown() = 0;
    virtual DWORD mapSeverity(DWORD severity) = 0;
    virtual void fillEventHeader(const wchar_t* file, const wchar_t* function, DWORD line, EventRecord& record) = 0;
};

// What both loggers share: the clamped threshold, the atomic reference count and the fixed-severity operations,
// which format into a 4160-character buffer and hand the text to logString. Interface is CLoggingIf or
// CLoggingIf_ex.
template <class Interface>
class CLoggerBase : public Interface {
public:
    void setSeverity(DWORD threshold) override { threshold_ = ClampSeverity(threshold); }
    DWORD getSeverity() override { return threshold_; }
    LONG AddRef() override { return InterlockedIncrement(&references_); }
    LONG Release() override {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return count;
    }

#define ETWLOGGING_FIXED_SEVERITY(method, severity)                                                        \
    DWORD method(const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format, ...) override { \
        va_list args;                                                                                      \
        va_start(args, format);                                                                            \
        const DWORD rc = logFixed(severity, file, function, line, format, args);                           \
        va_end(args);                                                                                      \
        return rc;                                                                                         \
    }
    ETWLOGGING_FIXED_SEVERITY(logNormal, kSeverityNormal)
    ETWLOGGING_FIXED_SEVERITY(logError, kSeverityError)
    ETWLOGGING_FIXED_SEVERITY(logWarning, kSeverityWarning)
    ETWLOGGING_FIXED_SEVERITY(logCritical, kSeverityCritical)
    ETWLOGGING_FIXED_SEVERITY(logInformation, kSeverityInformation)
#undef ETWLOGGING_FIXED_SEVERITY

protected:
    // Atomic: the ETW logger's threshold is also set from the system thread of its control callback.
    std::atomic<DWORD> threshold_{kSeverityNormal};

private:
    DWORD logFixed(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                   va_list args) {
        wchar_t buffer[kFixedSeverityBufferChars];
        Basalt::FormatInto(buffer, kFixedSeverityBufferChars, format, args);
        return this->logString(file, function, line, severity, buffer);
    }

    volatile LONG references_ = 0;
};

}  // namespace ETWLogging

#pragma once
// A logger that does nothing but keep its threshold: the base of the test and benchmark loggers, which override only
// the operations they watch. Interface is ETWLogging::CLoggingIf or ETWLogging::CLoggingIf_ex.
#include "foundation/logging/LoggingIf.h"

namespace testsupport {

template <class Interface>
class StubLoggerCore : public ETWLogging::CLoggerBase<Interface> {
public:
    DWORD open(const wchar_t*, HMODULE, const wchar_t*, DWORD) override { return 0; }
    DWORD registerProvider() override { return 0; }
    void getIdentityName(std::wstring&) override {}
    void getGroupName(std::wstring&) override {}
    DWORD close() override { return 0; }
    void setEnabled(bool) override {}
    bool isEnabled() override { return true; }
    void log(DWORD, const wchar_t*, const wchar_t*, DWORD, const wchar_t*, ...) override {}
    DWORD logString(const wchar_t*, const wchar_t*, DWORD, DWORD, const wchar_t*) override { return 0; }
    bool isSeverityEnabled(DWORD severity) override { return severity >= this->threshold_; }
    void setMaxEntries(DWORD) override {}
    DWORD getMaxEntries() override { return 0; }
    void setMaxSize(DWORD) override {}
    DWORD getMaxSize() override { return 0; }
};

using StubLogger = StubLoggerCore<ETWLogging::CLoggingIf>;

class StubExtendedLogger : public StubLoggerCore<ETWLogging::CLoggingIf_ex> {
public:
    DWORD openEx(const wchar_t*, const wchar_t*, HMODULE, const wchar_t*, ETWLogging::LoggingConfigListenerIf*) override {
        return 0;
    }
    DWORD logText(DWORD, const wchar_t*, const wchar_t*, DWORD, const wchar_t*) override { return 0; }
    DWORD writeEvent(DWORD, const wchar_t*, const wchar_t*, DWORD, const wchar_t*, va_list) override { return 0; }
    DWORD writeEventSafe(DWORD, const wchar_t*, const wchar_t*, DWORD, const wchar_t*, ...) override { return 0; }
    bool isSessionHandle(ULONG64) override { return false; }
    DWORD onTraceControl(DWORD, void*) override { return 0; }
    void setEventClass() override {}
    void getModuleFileName(std::wstring&, HMODULE, bool) override {}
    void buildIdentityName() override {}
    DWORD unregisterProvider() override { return 0; }
    DWORD shutdown() override { return 0; }
    DWORD mapSeverity(DWORD severity) override { return severity; }
    void fillEventHeader(const wchar_t*, const wchar_t*, DWORD, ETWLogging::EventRecord&) override {}
};

}  // namespace testsupport

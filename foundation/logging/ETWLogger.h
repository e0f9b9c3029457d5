#pragma once
// The ETW logger, the default logger of the system: a classic (MOF) trace provider. Each message that passes
// becomes one trace event: a packed record of who wrote it and where (EventRecord.h) and the message in UTF-8, cut
// to 2079 characters and a NUL when it does not fit in 2080. A trace controller outside the system enables the
// provider through its control callback; the enable level and the registry overrides of the configuration listener
// set the threshold. Severity 3 always passes. Until a controller enables it, the logger is enabled with threshold 3
// (and the overrides) and its events reach no session.
//
// The provider is registered by the first write (every log road asks registerProvider first); registration runs
// under a lock, everything else without one. Enabled, threshold, session handle and the registered flag are atomic:
// the control callback changes them from a system thread. The trace calls are advapi32's unless a test hands the
// logger its own.
#include <windows.h>
#include <evntrace.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "foundation/logging/ETWAppProperties.h"
#include "foundation/logging/ETWConfigurationListener.h"
#include "foundation/logging/EventRecord.h"
#include "foundation/logging/LoggingIf.h"
#include "foundation/logging/TraceCalls.h"

namespace ETWLogging {

class CETWLogging : public CLoggerBase<CLoggingIf_ex> {
public:
    static constexpr DWORD kAlreadyOpen = 20001;
    // The formatted message is cut to fit a buffer of this many characters, terminator included.
    static constexpr size_t kEventMessageChars = 2080;

    // An empty pointer stands for advapi32's own calls.
    explicit CETWLogging(std::shared_ptr<CTraceCalls> calls = nullptr);
    ~CETWLogging() override;
    CETWLogging(const CETWLogging&) = delete;
    CETWLogging& operator=(const CETWLogging&) = delete;

    // openEx with the default application and no listener.
    DWORD open(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD reserved) override;
    // 0 once registered; else registers and returns what RegisterTraceGuidsW said (once: later calls see 0).
    DWORD registerProvider() override;
    void getIdentityName(std::wstring& name) override { name = identityName_; }
    void getGroupName(std::wstring& name) override { name = group_.value_or(std::wstring()); }
    // 0; when open, shuts down (a failure is returned and the logger stays open).
    DWORD close() override;
    void setEnabled(bool enabled) override { enabled_.store(enabled); }
    bool isEnabled() override { return enabled_.load(); }
    void log(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
             ...) override;
    DWORD logString(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                    const wchar_t* message) override;
    bool isSeverityEnabled(DWORD severity) override {
        return severity >= threshold_.load(std::memory_order_relaxed) || severity == kSeverityInformation;
    }
    // The ring of the file logger means nothing here.
    void setMaxEntries(DWORD) override {}
    DWORD getMaxEntries() override { return 0; }
    void setMaxSize(DWORD) override {}
    DWORD getMaxSize() override { return 0; }

    // 0; 20001 when open; 87 for an empty group or host (null is fine) or when the application's settings cannot
    // be had. The logger owns a listener it was given once openEx gets as far as taking it (a failure before that
    // leaves it to the caller); without one it makes its own. Either is told (1, 3, 0) at once.
    DWORD openEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                 LoggingConfigListenerIf* listener) override;
    DWORD logText(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                  const wchar_t* message) override;
    // 87 for a null format; else 0, sending the event only while enabled and the severity passes (what TraceEvent
    // says is not passed on: without a session it refuses every event).
    DWORD writeEvent(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                     va_list args) override;
    DWORD writeEventSafe(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                         const wchar_t* format, ...) override;
    bool isSessionHandle(ULONG64 traceHandle) override { return traceHandle == sessionHandle_.load(); }
    // Enable (4): takes the session unless another one holds it, and passes a non-zero level and the flags to the
    // listener; a level of 0 changes neither enabled nor threshold and answers the last error. Disable (5): tells
    // the listener (0, threshold, 0) and lets go of the session when it is the one held. Other requests: 87.
    DWORD onTraceControl(DWORD requestCode, void* buffer) override;
    void setEventClass() override;
    // The file name of the module's path (null: the program), without its last extension when asked.
    void getModuleFileName(std::wstring& name, HMODULE module, bool stripExtension) override;
    void buildIdentityName() override;
    DWORD unregisterProvider() override;
    DWORD shutdown() override;
    // 6 is sent as 3; the others as they are.
    DWORD mapSeverity(DWORD severity) override { return severity == kSeverityInformation6 ? kSeverityInformation : severity; }
    void fillEventHeader(const wchar_t* file, const wchar_t* function, DWORD line, EventRecord& record) override;

    // What RegisterTraceGuidsW is given as its control callback, with this logger (as CLoggingIf_ex) for context.
    // Nothing thrown inside gets out of it.
    static ULONG WINAPI ControlCallback(WMIDPREQUESTCODE requestCode, void* context, ULONG* bufferSize,
                                        void* buffer);

    const internal::ETWAppProperties& properties() const { return properties_; }

private:
    void forgetIdentity();

    const std::shared_ptr<CTraceCalls> calls_;
    std::atomic<bool> registered_{false};
    DWORD open_ = 0;
    CRITICAL_SECTION registration_;
    GUID eventClass_{};
    TRACE_GUID_REGISTRATION traceRegistration_{};
    DWORD processId_ = 0;
    std::unique_ptr<LoggingConfigListenerIf> listener_;
    std::atomic<bool> enabled_{true};
    std::optional<std::wstring> group_;
    std::optional<std::wstring> host_;
    std::wstring imageName_;
    std::wstring moduleBaseName_;
    std::wstring identityName_;
    std::wstring programName_;
    std::wstring programVersion_;
    std::atomic<TRACEHANDLE> registrationHandle_{0};
    std::atomic<TRACEHANDLE> sessionHandle_{0};
    internal::ETWAppProperties properties_;
};

namespace internal {

// "a, b, c, d" (four unsigned decimal numbers, blanks before each allowed) becomes "a.b.c.d"; any other text is
// kept as it is.
std::wstring DottedFileVersion(const std::wstring& text);

}  // namespace internal

}  // namespace ETWLogging

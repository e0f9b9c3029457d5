#pragma once
// The classic-ETW calls of the ETW logger. CSystemTraceCalls is advapi32 itself and what every logger uses unless a
// test hands it other calls (a controller and a session cannot be had on every machine the tests run on).
#include <windows.h>
#include <evntrace.h>

namespace ETWLogging {

class CTraceCalls {
public:
    virtual ~CTraceCalls() = default;
    virtual ULONG RegisterTraceGuidsW(WMIDPREQUEST callback, void* context, const GUID* controlGuid, ULONG guidCount,
                                      TRACE_GUID_REGISTRATION* registrations, const wchar_t* mofImagePath,
                                      const wchar_t* mofResourceName, TRACEHANDLE* registrationHandle) = 0;
    virtual ULONG UnregisterTraceGuids(TRACEHANDLE registrationHandle) = 0;
    virtual ULONG TraceEvent(TRACEHANDLE sessionHandle, EVENT_TRACE_HEADER* header) = 0;
    virtual TRACEHANDLE GetTraceLoggerHandle(void* buffer) = 0;
    virtual UCHAR GetTraceEnableLevel(TRACEHANDLE sessionHandle) = 0;
    virtual ULONG GetTraceEnableFlags(TRACEHANDLE sessionHandle) = 0;
};

class CSystemTraceCalls : public CTraceCalls {
public:
    ULONG RegisterTraceGuidsW(WMIDPREQUEST callback, void* context, const GUID* controlGuid, ULONG guidCount,
                              TRACE_GUID_REGISTRATION* registrations, const wchar_t* mofImagePath,
                              const wchar_t* mofResourceName, TRACEHANDLE* registrationHandle) override;
    ULONG UnregisterTraceGuids(TRACEHANDLE registrationHandle) override;
    ULONG TraceEvent(TRACEHANDLE sessionHandle, EVENT_TRACE_HEADER* header) override;
    TRACEHANDLE GetTraceLoggerHandle(void* buffer) override;
    UCHAR GetTraceEnableLevel(TRACEHANDLE sessionHandle) override;
    ULONG GetTraceEnableFlags(TRACEHANDLE sessionHandle) override;
};

}  // namespace ETWLogging

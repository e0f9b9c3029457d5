#include "foundation/logging/TraceCalls.h"

namespace ETWLogging {

ULONG CSystemTraceCalls::RegisterTraceGuidsW(WMIDPREQUEST callback, void* context, const GUID* controlGuid,
                                             ULONG guidCount, TRACE_GUID_REGISTRATION* registrations,
                                             const wchar_t* mofImagePath, const wchar_t* mofResourceName,
                                             TRACEHANDLE* registrationHandle) {
    return ::RegisterTraceGuidsW(callback, context, controlGuid, guidCount, registrations, mofImagePath,
                                 mofResourceName, registrationHandle);
}

ULONG CSystemTraceCalls::UnregisterTraceGuids(TRACEHANDLE registrationHandle) {
    return ::UnregisterTraceGuids(registrationHandle);
}

ULONG CSystemTraceCalls::TraceEvent(TRACEHANDLE sessionHandle, EVENT_TRACE_HEADER* header) {
    return ::TraceEvent(sessionHandle, header);
}

TRACEHANDLE CSystemTraceCalls::GetTraceLoggerHandle(void* buffer) { return ::GetTraceLoggerHandle(buffer); }

UCHAR CSystemTraceCalls::GetTraceEnableLevel(TRACEHANDLE sessionHandle) {
    return ::GetTraceEnableLevel(sessionHandle);
}

ULONG CSystemTraceCalls::GetTraceEnableFlags(TRACEHANDLE sessionHandle) {
    return ::GetTraceEnableFlags(sessionHandle);
}

}  // namespace ETWLogging

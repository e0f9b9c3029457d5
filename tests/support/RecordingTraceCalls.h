#pragma once
// A trace API for tests and benchmarks of the ETW logger: it records the registration and every event (the 80-byte
// header and the bytes of both MOF fields), and plays a trace controller: enable() and disable() call the control
// callback that was registered, with a buffer that names a session of the test's choosing.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/logging/TraceCalls.h"

namespace testsupport {

struct TracedEvent {
    TRACEHANDLE session = 0;
    std::vector<BYTE> header;   // the 80 bytes handed to TraceEvent
    std::vector<BYTE> record;   // the first MOF field
    std::vector<BYTE> message;  // the second MOF field
};

class RecordingTraceCalls : public ETWLogging::CTraceCalls {
public:
    // What the next RegisterTraceGuidsW answers and the handle it hands out.
    ULONG registerResult = 0;
    TRACEHANDLE nextRegistration = 0x5157;
    // Off: events are counted, not copied (for benchmarks).
    bool keepEvents = true;

    ULONG RegisterTraceGuidsW(WMIDPREQUEST callback, void* context, const GUID* controlGuid, ULONG guidCount,
                              TRACE_GUID_REGISTRATION* registrations, const wchar_t* mofImagePath,
                              const wchar_t* mofResourceName, TRACEHANDLE* registrationHandle) override;
    ULONG UnregisterTraceGuids(TRACEHANDLE registrationHandle) override;
    ULONG TraceEvent(TRACEHANDLE sessionHandle, EVENT_TRACE_HEADER* header) override;
    TRACEHANDLE GetTraceLoggerHandle(void* buffer) override;
    UCHAR GetTraceEnableLevel(TRACEHANDLE sessionHandle) override;
    ULONG GetTraceEnableFlags(TRACEHANDLE sessionHandle) override;

    // A controller's request through the registered callback: the session is known to the fake from then on, with
    // the level and flags given. lastError is what the level query leaves as the last error.
    ULONG enable(TRACEHANDLE session, UCHAR level, ULONG flags, DWORD lastError = 0);
    ULONG disable(TRACEHANDLE session);
    ULONG control(DWORD requestCode, TRACEHANDLE session);

    std::vector<TracedEvent> events() const;
    size_t eventCount() const;

    struct Registration {
        WMIDPREQUEST callback = nullptr;
        void* context = nullptr;
        GUID controlGuid{};
        ULONG guidCount = 0;
        GUID eventClass{};
        bool mofImagePathNull = false;
        bool mofResourceNameNull = false;
    };
    std::vector<Registration> registrations;
    std::vector<TRACEHANDLE> unregistered;

private:
    struct Session {
        UCHAR level = 0;
        ULONG flags = 0;
        DWORD lastError = 0;
    };
    mutable std::mutex lock_;
    std::vector<TracedEvent> events_;
    size_t eventCount_ = 0;
    std::map<TRACEHANDLE, Session> sessions_;
};

// The fields of a packed event record, read back from its bytes; `whole` is false when the bytes do not hold
// exactly one record.
struct DecodedRecord {
    bool whole = false;
    DWORD processId = 0;
    DWORD threadId = 0;
    std::wstring image, file, function;
    DWORD line = 0;
    std::wstring module, version, group;
    ULONG64 messageBytes = 0;
};
DecodedRecord DecodeRecord(const std::vector<BYTE>& bytes);

}  // namespace testsupport

#include "tests/support/RecordingTraceCalls.h"

#include <cstring>

namespace testsupport {

ULONG RecordingTraceCalls::RegisterTraceGuidsW(WMIDPREQUEST callback, void* context, const GUID* controlGuid,
                                               ULONG guidCount, TRACE_GUID_REGISTRATION* traceRegistrations,
                                               const wchar_t* mofImagePath, const wchar_t* mofResourceName,
                                               TRACEHANDLE* registrationHandle) {
    Registration r;
    r.callback = callback;
    r.context = context;
    if (controlGuid) r.controlGuid = *controlGuid;
    r.guidCount = guidCount;
    if (traceRegistrations && traceRegistrations[0].Guid) r.eventClass = *traceRegistrations[0].Guid;
    r.mofImagePathNull = mofImagePath == nullptr;
    r.mofResourceNameNull = mofResourceName == nullptr;
    registrations.push_back(r);
    *registrationHandle = registerResult == 0 ? nextRegistration : 0;
    return registerResult;
}

ULONG RecordingTraceCalls::UnregisterTraceGuids(TRACEHANDLE registrationHandle) {
    unregistered.push_back(registrationHandle);
    return 0;
}

ULONG RecordingTraceCalls::TraceEvent(TRACEHANDLE sessionHandle, EVENT_TRACE_HEADER* header) {
    std::lock_guard<std::mutex> guard(lock_);
    ++eventCount_;
    if (!keepEvents) return ERROR_INVALID_HANDLE;
    TracedEvent e;
    e.session = sessionHandle;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(header);
    e.header.assign(bytes, bytes + header->Size);
    const auto* fields = reinterpret_cast<const MOF_FIELD*>(header + 1);
    const BYTE* record = reinterpret_cast<const BYTE*>(static_cast<ULONG_PTR>(fields[0].DataPtr));
    const BYTE* message = reinterpret_cast<const BYTE*>(static_cast<ULONG_PTR>(fields[1].DataPtr));
    if (record) e.record.assign(record, record + fields[0].Length);
    if (message) e.message.assign(message, message + fields[1].Length);
    events_.push_back(std::move(e));
    return sessionHandle == 0 ? ERROR_INVALID_HANDLE : 0;
}

TRACEHANDLE RecordingTraceCalls::GetTraceLoggerHandle(void* buffer) {
    const TRACEHANDLE session = *static_cast<const TRACEHANDLE*>(buffer);
    std::lock_guard<std::mutex> guard(lock_);
    if (sessions_.count(session)) return session;
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<TRACEHANDLE>(reinterpret_cast<ULONG_PTR>(INVALID_HANDLE_VALUE));
}

UCHAR RecordingTraceCalls::GetTraceEnableLevel(TRACEHANDLE sessionHandle) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = sessions_.find(sessionHandle);
    if (found == sessions_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (found->second.lastError) SetLastError(found->second.lastError);
    return found->second.level;
}

ULONG RecordingTraceCalls::GetTraceEnableFlags(TRACEHANDLE sessionHandle) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = sessions_.find(sessionHandle);
    return found == sessions_.end() ? 0 : found->second.flags;
}

ULONG RecordingTraceCalls::enable(TRACEHANDLE session, UCHAR level, ULONG flags, DWORD lastError) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        sessions_[session] = Session{level, flags, lastError};
    }
    return control(WMI_ENABLE_EVENTS, session);
}

ULONG RecordingTraceCalls::disable(TRACEHANDLE session) { return control(WMI_DISABLE_EVENTS, session); }

ULONG RecordingTraceCalls::control(DWORD requestCode, TRACEHANDLE session) {
    if (registrations.empty()) return ERROR_NOT_READY;
    const Registration& r = registrations.back();
    // The buffer a controller hands over: the fake's own handle query reads the session from it.
    TRACEHANDLE buffer = session;
    ULONG size = sizeof buffer;
    return r.callback(static_cast<WMIDPREQUESTCODE>(requestCode), r.context, &size, &buffer);
}

std::vector<TracedEvent> RecordingTraceCalls::events() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

size_t RecordingTraceCalls::eventCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return eventCount_;
}

namespace {

class Reader {
public:
    explicit Reader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}
    template <class T>
    T take() {
        T value{};
        if (at_ + sizeof value > bytes_.size()) {
            failed_ = true;
            return value;
        }
        std::memcpy(&value, bytes_.data() + at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    std::wstring text() {
        const USHORT count = take<USHORT>();
        if (failed_ || at_ + count * sizeof(wchar_t) > bytes_.size()) {
            failed_ = true;
            return std::wstring();
        }
        std::wstring value(count, L'\0');
        std::memcpy(value.data(), bytes_.data() + at_, count * sizeof(wchar_t));
        at_ += count * sizeof(wchar_t);
        return value;
    }
    bool atEnd() const { return !failed_ && at_ == bytes_.size(); }

private:
    const std::vector<BYTE>& bytes_;
    size_t at_ = 0;
    bool failed_ = false;
};

}  // namespace

DecodedRecord DecodeRecord(const std::vector<BYTE>& bytes) {
    Reader in(bytes);
    DecodedRecord r;
    r.processId = in.take<DWORD>();
    r.threadId = in.take<DWORD>();
    r.image = in.text();
    r.file = in.text();
    r.function = in.text();
    r.line = in.take<DWORD>();
    r.module = in.text();
    r.version = in.text();
    r.group = in.text();
    r.messageBytes = in.take<ULONG64>();
    r.whole = in.atEnd();
    return r;
}

}  // namespace testsupport

#pragma once
// One trace event of the ETW logger on the wire. Its first MOF field is the packed record, little-endian and without
// padding:
//     u32 process id, u32 thread id, str image, str file, str function, u32 line, str module, str version, str group,
//     u64 byte length of the message
// where "str" is a u16 count of UTF-16 characters followed by those characters (no terminator); its second MOF field
// is the message in UTF-8. TraceEventHeader is what TraceEvent is handed: the event trace header and the two fields,
// 80 bytes.
#include <windows.h>
#include <evntrace.h>

#include <cstddef>
#include <memory>

namespace ETWLogging {

// The facts the packed record carries. The texts are borrowed from the caller; null packs as an empty text.
struct EventRecord {
    DWORD processId = 0;
    DWORD threadId = 0;
    const wchar_t* image = nullptr;     // the executable's file name
    const wchar_t* file = nullptr;      // the source file as the log site gave it
    const wchar_t* function = nullptr;  // the function as the log site gave it
    DWORD line = 0;
    const wchar_t* module = nullptr;   // the executable's file name, kept once per process
    const wchar_t* version = nullptr;  // the executable's file version
    const wchar_t* group = nullptr;
};

// A byte buffer of 256 bytes that grows, when a field does not fit, to the larger of the needed size and one and a
// half times its capacity. A growth that finds no memory marks the record as failed; nothing more is added.
class PackedRecord {
public:
    static constexpr size_t kInitialCapacity = 256;

    PackedRecord() = default;
    PackedRecord(const PackedRecord&) = delete;
    PackedRecord& operator=(const PackedRecord&) = delete;

    void putU32(DWORD value);
    void putU64(ULONG64 value);
    // Texts longer than 65535 characters are cut to that length.
    void putText(const wchar_t* text);

    const BYTE* data() const { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool failed() const { return failed_; }

private:
    void put(const void* bytes, size_t count);

    BYTE inline_[kInitialCapacity];
    std::unique_ptr<BYTE[]> grown_;
    BYTE* data_ = inline_;
    size_t size_ = 0;
    size_t capacity_ = kInitialCapacity;
    bool failed_ = false;
};

void PackEventRecord(const EventRecord& record, ULONG64 messageBytes, PackedRecord& out);

struct TraceEventHeader {
    EVENT_TRACE_HEADER header;
    MOF_FIELD fields[2];
};
static_assert(sizeof(TraceEventHeader) == 80, "the trace header and its two MOF fields are 80 bytes");

// Zeroes the header, then: Size 80, Flags traced GUID | MOF pointers (0x120000), the event class, Type 1, the level,
// Version 2, the record and the message as the two MOF fields.
void FillTraceEventHeader(TraceEventHeader& out, const GUID& eventClass, UCHAR level, const void* record,
                          ULONG recordBytes, const void* message, ULONG messageBytes);

}  // namespace ETWLogging

#include "foundation/logging/EventRecord.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace ETWLogging {

namespace {

constexpr UCHAR kEventTypeInfo = 1;
constexpr USHORT kEventVersion = 2;
constexpr size_t kMaxTextChars = 0xFFFF;

}  // namespace

void PackedRecord::put(const void* bytes, size_t count) {
    if (failed_) return;
    if (size_ + count > capacity_) {
        const size_t needed = size_ + count;
        const size_t larger = capacity_ + capacity_ / 2;
        const size_t grownCapacity = needed > larger ? needed : larger;
        std::unique_ptr<BYTE[]> grown(new (std::nothrow) BYTE[grownCapacity]);
        if (!grown) {
            failed_ = true;
            return;
        }
        std::memcpy(grown.get(), data_, size_);
        grown_ = std::move(grown);
        data_ = grown_.get();
        capacity_ = grownCapacity;
    }
    std::memcpy(data_ + size_, bytes, count);
    size_ += count;
}

void PackedRecord::putU32(DWORD value) { put(&value, sizeof value); }

void PackedRecord::putU64(ULONG64 value) { put(&value, sizeof value); }

void PackedRecord::putText(const wchar_t* text) {
    const size_t length = text ? wcsnlen(text, kMaxTextChars) : 0;
    const USHORT count = static_cast<USHORT>(length);
    put(&count, sizeof count);
    if (length) put(text, length * sizeof(wchar_t));
}

void PackEventRecord(const EventRecord& record, ULONG64 messageBytes, PackedRecord& out) {
    out.putU32(record.processId);
    out.putU32(record.threadId);
    out.putText(record.image);
    out.putText(record.file);
    out.putText(record.function);
    out.putU32(record.line);
    out.putText(record.module);
    out.putText(record.version);
    out.putText(record.group);
    out.putU64(messageBytes);
}

void FillTraceEventHeader(TraceEventHeader& out, const GUID& eventClass, UCHAR level, const void* record,
                          ULONG recordBytes, const void* message, ULONG messageBytes) {
    std::memset(&out, 0, sizeof out);
    out.header.Size = sizeof out;
    out.header.Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR;
    out.header.Guid = eventClass;
    out.header.Class.Type = kEventTypeInfo;
    out.header.Class.Level = level;
    out.header.Class.Version = kEventVersion;
    out.fields[0].DataPtr = reinterpret_cast<ULONG_PTR>(record);
    out.fields[0].Length = recordBytes;
    out.fields[1].DataPtr = reinterpret_cast<ULONG_PTR>(message);
    out.fields[1].Length = messageBytes;
}

}  // namespace ETWLogging

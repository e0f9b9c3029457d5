#include "quillon/EventCalls.h"

ULONG CSystemEventCalls::Register(const GUID* provider, PENABLECALLBACK callback, void* context, REGHANDLE* handle) {
    return EventRegister(provider, callback, context, handle);
}

ULONG CSystemEventCalls::Write(REGHANDLE handle, const EVENT_DESCRIPTOR* descriptor, ULONG count,
                               EVENT_DATA_DESCRIPTOR* data) {
    return EventWrite(handle, descriptor, count, data);
}

ULONG CSystemEventCalls::Unregister(REGHANDLE handle) { return EventUnregister(handle); }

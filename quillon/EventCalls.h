#pragma once
// The manifest-ETW calls of the idle waiter's provider. CSystemEventCalls is the real advapi32; tests hand the
// provider a recording double instead (EtwRegisterProvider takes the calls to use for the registration's life).
#include <windows.h>
#include <evntprov.h>

class CEventCalls {
public:
    virtual ~CEventCalls() = default;
    virtual ULONG Register(const GUID* provider, PENABLECALLBACK callback, void* context, REGHANDLE* handle) = 0;
    virtual ULONG Write(REGHANDLE handle, const EVENT_DESCRIPTOR* descriptor, ULONG count,
                        EVENT_DATA_DESCRIPTOR* data) = 0;
    virtual ULONG Unregister(REGHANDLE handle) = 0;
};

class CSystemEventCalls : public CEventCalls {
public:
    ULONG Register(const GUID* provider, PENABLECALLBACK callback, void* context, REGHANDLE* handle) override;
    ULONG Write(REGHANDLE handle, const EVENT_DESCRIPTOR* descriptor, ULONG count,
                EVENT_DATA_DESCRIPTOR* data) override;
    ULONG Unregister(REGHANDLE handle) override;
};

#include "quillon/QuillonEvents.h"

#include <cwchar>
#include <initializer_list>

namespace {

constexpr UCHAR kOpcodeInfo = 0;
constexpr UCHAR kOpcodeStart = 1;
constexpr UCHAR kOpcodeStop = 2;
constexpr USHORT kTaskQuillon = 1;
constexpr ULONG kControlDisable = 0;
constexpr ULONG kControlEnable = 1;

constexpr EVENT_DESCRIPTOR Describe(USHORT id, UCHAR opcode) { return {id, 0, 0, 0, opcode, kTaskQuillon, 0}; }

struct ProviderState {
    REGHANDLE handle = 0;
    CEventCalls* calls = nullptr;
    EtwEnableContext enable;
};
ProviderState g_provider;

// One field of an event: its bytes as the manifest lays them out.
struct Field {
    const void* data;
    ULONG size;
};

Field Text(const wchar_t* text) {
    if (!text) text = L"NULL";
    return {text, static_cast<ULONG>((wcslen(text) + 1) * sizeof(wchar_t))};
}

void Write(USHORT id, std::initializer_list<Field> fields) {
    if (!EtwEventsEnabled() || !g_provider.calls) return;
    EVENT_DATA_DESCRIPTOR data[8];
    ULONG count = 0;
    for (const Field& field : fields) EventDataDescCreate(&data[count++], field.data, field.size);
    g_provider.calls->Write(g_provider.handle, &kQuillonEventDescriptors[id], count, count ? data : nullptr);
}

}  // namespace

const EVENT_DESCRIPTOR kQuillonEventDescriptors[kQuillonEventCount] = {
    Describe(kEvtOnTimer, kOpcodeInfo),
    Describe(kEvtSetWinEventHook, kOpcodeStart),
    Describe(kEvtSetTimer, kOpcodeStart),
    Describe(kEvtKillTimer, kOpcodeStop),
    Describe(kEvtOnWinEvent, kOpcodeInfo),
    Describe(kEvtUnhookWinEvent, kOpcodeStop),
    Describe(kEvtState, kOpcodeInfo),
    Describe(kEvtIsCurrentDesktopInteractive, kOpcodeInfo),
    Describe(kEvtIdleDetectInit, kOpcodeStart),
    Describe(kEvtIdleDetectDeinit, kOpcodeStop),
    Describe(kEvtIsIdle, kOpcodeInfo),
    Describe(kEvtIdleDetectInitEx, kOpcodeStart),
};

ULONG EtwRegisterProvider(CEventCalls& calls) {
    if (g_provider.handle != 0) return 0;
    g_provider.calls = &calls;
    const ULONG status = calls.Register(&kQuillonProviderGuid, EtwEnableCallback, &g_provider.enable,
                                        &g_provider.handle);
    if (status != 0) {
        g_provider.handle = 0;
        g_provider.calls = nullptr;
    }
    return status;
}

void NTAPI EtwEnableCallback(LPCGUID, ULONG controlCode, UCHAR level, ULONGLONG matchAny, ULONGLONG matchAll,
                             PEVENT_FILTER_DESCRIPTOR, PVOID context) {
    auto* enable = static_cast<EtwEnableContext*>(context);
    if (!enable) return;
    if (controlCode == kControlEnable) {
        enable->level = level;
        enable->matchAnyKeyword = matchAny;
        enable->matchAllKeyword = matchAll;
        enable->enabled = true;
        // Every event has level 0 and keywords 0, which pass any session's level and keywords.
        enable->eventsEnabled = true;
    } else if (controlCode == kControlDisable) {
        enable->eventsEnabled = false;
        enable->enabled = false;
        enable->level = 0;
        enable->matchAnyKeyword = 0;
        enable->matchAllKeyword = 0;
    }
}

void EtwUnregisterProvider() {
    if (g_provider.handle == 0) return;
    g_provider.calls->Unregister(g_provider.handle);
    g_provider.handle = 0;
    g_provider.calls = nullptr;
}

bool EtwEventsEnabled() { return g_provider.enable.eventsEnabled.load(std::memory_order_relaxed); }

void EvtOnTimer(const wchar_t* id, HWND hwnd, UINT message, UINT_PTR idEvent, DWORD time) {
    const UINT64 window = reinterpret_cast<UINT_PTR>(hwnd);
    const UINT64 timer = idEvent;
    Write(kEvtOnTimer, {Text(id), {&window, 8}, {&message, 4}, {&timer, 8}, {&time, 4}});
}

void EvtSetWinEventHook(HWINEVENTHOOK hook, DWORD eventMin, DWORD eventMax, HMODULE module, WINEVENTPROC procedure,
                        DWORD idProcess, DWORD idThread, LONG flags) {
    const UINT64 hookValue = reinterpret_cast<UINT_PTR>(hook);
    const UINT64 moduleValue = reinterpret_cast<UINT_PTR>(module);
    const UINT64 procedureValue = reinterpret_cast<UINT_PTR>(procedure);
    Write(kEvtSetWinEventHook, {{&hookValue, 8}, {&eventMin, 4}, {&eventMax, 4}, {&moduleValue, 8},
                                {&procedureValue, 8}, {&idProcess, 4}, {&idThread, 4}, {&flags, 4}});
}

void EvtSetTimer(const wchar_t* id, UINT_PTR idEvent, UINT elapse, TIMERPROC procedure) {
    const UINT64 timer = idEvent;
    const UINT64 procedureValue = reinterpret_cast<UINT_PTR>(procedure);
    Write(kEvtSetTimer, {Text(id), {&timer, 8}, {&elapse, 4}, {&procedureValue, 8}});
}

void EvtKillTimer(const wchar_t* id, UINT_PTR idEvent) {
    const UINT64 timer = idEvent;
    Write(kEvtKillTimer, {Text(id), {&timer, 8}});
}

void EvtOnWinEvent(HWINEVENTHOOK hook, DWORD event, HWND hwnd, LONG idObject, LONG idChild, DWORD eventThread,
                   DWORD eventTime) {
    const UINT64 hookValue = reinterpret_cast<UINT_PTR>(hook);
    const UINT64 window = reinterpret_cast<UINT_PTR>(hwnd);
    Write(kEvtOnWinEvent, {{&hookValue, 8}, {&event, 4}, {&window, 8}, {&idObject, 4}, {&idChild, 4},
                           {&eventThread, 4}, {&eventTime, 4}});
}

void EvtUnhookWinEvent(HWINEVENTHOOK hook) {
    const UINT64 hookValue = reinterpret_cast<UINT_PTR>(hook);
    Write(kEvtUnhookWinEvent, {{&hookValue, 8}});
}

void EvtState(BOOL desktopSwitchEventDetected, BOOL systemIdleDetected, BOOL minimumDelayPeriodPassed) {
    Write(kEvtState, {{&desktopSwitchEventDetected, 4}, {&systemIdleDetected, 4}, {&minimumDelayPeriodPassed, 4}});
}

void EvtIsCurrentDesktopInteractive(double io) { Write(kEvtIsCurrentDesktopInteractive, {{&io, 8}}); }

void EvtIdleDetectDeinit() { Write(kEvtIdleDetectDeinit, {}); }

void EvtIsIdle(DWORD memoryMBytes, DWORD idleTimeCPU, DWORD idleTimeDisk, BOOL isIdle) {
    Write(kEvtIsIdle, {{&memoryMBytes, 4}, {&idleTimeCPU, 4}, {&idleTimeDisk, 4}, {&isIdle, 4}});
}

void EvtIdleDetectInitEx(DWORD memoryMBytes, DWORD idleTimeCPU, DWORD idleTimeDisk, DWORD idleCountRequired,
                         DWORD physicalDiskCount) {
    Write(kEvtIdleDetectInitEx, {{&memoryMBytes, 4}, {&idleTimeCPU, 4}, {&idleTimeDisk, 4}, {&idleCountRequired, 4},
                                 {&physicalDiskCount, 4}});
}

#pragma once
// The idle waiter's manifest ETW provider {E68F1ACA-B449-42BB-9C0E-FCF0F2EFF8B3}: registration, the enable callback
// that a session's enable or disable reaches (on a system thread, so the enable context is atomic), and one writer
// per event. A writer writes only while a session has the provider enabled. Field sizes are fixed: pointers 8 bytes,
// Booleans 4, the Double 8, strings with their terminator (a null string is written as "NULL").
// All events: version 0, no channel, level 0, keywords 0, task 1.
#include <windows.h>
#include <evntprov.h>

#include <atomic>

#include "quillon/EventCalls.h"

// {E68F1ACA-B449-42BB-9C0E-FCF0F2EFF8B3}
inline constexpr GUID kQuillonProviderGuid = {
    0xE68F1ACA, 0xB449, 0x42BB, {0x9C, 0x0E, 0xFC, 0xF0, 0xF2, 0xEF, 0xF8, 0xB3}};

enum QuillonEventId : USHORT {
    kEvtOnTimer = 0,
    kEvtSetWinEventHook = 1,
    kEvtSetTimer = 2,
    kEvtKillTimer = 3,
    kEvtOnWinEvent = 4,
    kEvtUnhookWinEvent = 5,
    kEvtState = 6,
    kEvtIsCurrentDesktopInteractive = 7,
    kEvtIdleDetectInit = 8,  // described, never written
    kEvtIdleDetectDeinit = 9,
    kEvtIsIdle = 10,
    kEvtIdleDetectInitEx = 11,
    kQuillonEventCount = 12,
};

// Indexed by event id.
extern const EVENT_DESCRIPTOR kQuillonEventDescriptors[kQuillonEventCount];

// What the enable callback keeps; one enable bit covers all twelve events.
struct EtwEnableContext {
    std::atomic<bool> enabled{false};
    std::atomic<UCHAR> level{0};
    std::atomic<ULONGLONG> matchAnyKeyword{0};
    std::atomic<ULONGLONG> matchAllKeyword{0};
    std::atomic<bool> eventsEnabled{false};
};

// Registers with the given calls when no registration is held (else 0); the calls are kept until unregistration.
ULONG EtwRegisterProvider(CEventCalls& calls);
void NTAPI EtwEnableCallback(LPCGUID source, ULONG controlCode, UCHAR level, ULONGLONG matchAny, ULONGLONG matchAll,
                             PEVENT_FILTER_DESCRIPTOR filter, PVOID context);
void EtwUnregisterProvider();
bool EtwEventsEnabled();

void EvtOnTimer(const wchar_t* id, HWND hwnd, UINT message, UINT_PTR idEvent, DWORD time);
void EvtSetWinEventHook(HWINEVENTHOOK hook, DWORD eventMin, DWORD eventMax, HMODULE module, WINEVENTPROC procedure,
                        DWORD idProcess, DWORD idThread, LONG flags);
void EvtSetTimer(const wchar_t* id, UINT_PTR idEvent, UINT elapse, TIMERPROC procedure);
void EvtKillTimer(const wchar_t* id, UINT_PTR idEvent);
void EvtOnWinEvent(HWINEVENTHOOK hook, DWORD event, HWND hwnd, LONG idObject, LONG idChild, DWORD eventThread,
                   DWORD eventTime);
void EvtUnhookWinEvent(HWINEVENTHOOK hook);
void EvtState(BOOL desktopSwitchEventDetected, BOOL systemIdleDetected, BOOL minimumDelayPeriodPassed);
void EvtIsCurrentDesktopInteractive(double io);
void EvtIdleDetectDeinit();
void EvtIsIdle(DWORD memoryMBytes, DWORD idleTimeCPU, DWORD idleTimeDisk, BOOL isIdle);
void EvtIdleDetectInitEx(DWORD memoryMBytes, DWORD idleTimeCPU, DWORD idleTimeDisk, DWORD idleCountRequired,
                         DWORD physicalDiskCount);

#pragma once
// The idle waiter's whole run on one thread. It reads its settings (scrambled records under HKLM
// "Software\Torvex\Halvard\OOBEAutoTune"), sleeps the minimum delay, opens the idle test, watches desktop switches
// through an out-of-context WinEvent hook and runs a message loop with two thread timers until one of them posts
// the exit code: 0 once the machine was idle on a desktop that receives input, 1460 when the maximum delay ran out.
// An idle test that cannot be opened ends the run with its HRESULT, a timer that cannot be made with its error
// (1627 when the system gave none, so that a failure never reads as "idle").
// The platform calls are injected so that tests can replace the counters, the timers, the sleep and the ETW calls.
#include <windows.h>

#include "quillon/EventCalls.h"
#include "quillon/PdhCalls.h"
#include "quillon/WaiterCalls.h"

struct WaiterPlatform {
    CWaiterCalls& system;
    CPdhCalls& pdh;
    CEventCalls& events;
};

DWORD RunIdleWaiter(const WaiterPlatform& platform);

void CALLBACK OnTimerMaximumDelay(HWND window, UINT message, UINT_PTR id, DWORD time);
void CALLBACK OnTimerQueryInterval(HWND window, UINT message, UINT_PTR id, DWORD time);
void CALLBACK OnWinEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG idObject, LONG idChild,
                         DWORD eventThread, DWORD eventTime);

// The settings. A value is taken only when it reads back as a record of type REG_DWORD with exactly four bytes;
// anything else (missing key or value, a plain REG_DWORD, a record of another type or size) gives the default.
// Each getter logs a failure line when it falls back, then a value line.
DWORD GetMaximumDelay();       // minutes, default 10
DWORD GetMinimumDelay();       // minutes, default 2
DWORD GetMemory();             // MB, default 256
DWORD GetIdleCountRequired();  // samples, default 1
DWORD GetIdleTimeCPU();        // %, default 80
DWORD GetIdleTimeDisk();       // %, default 50
DWORD GetQueryInterval();      // seconds, default 5

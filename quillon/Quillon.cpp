#include "quillon/Quillon.h"

#include <utility>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/RegValueCodec.h"
#include "foundation/basalt/SystemLibrary.h"
#include "foundation/logging/LogStream.h"
#include "quillon/IdleDetect.h"
#include "quillon/QuillonEvents.h"

namespace {

constexpr DWORD kMinute = 60000;
constexpr DWORD kSecond = 1000;

// A setting in minutes or seconds as a timer or sleep length; huge settings stop at the longest timer instead of
// wrapping round to a short delay (and a sleep never becomes INFINITE).
DWORD ToMilliseconds(DWORD setting, DWORD unit) {
    const unsigned long long milliseconds = static_cast<unsigned long long>(setting) * unit;
    return milliseconds > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<DWORD>(milliseconds);
}
constexpr wchar_t kMainFunction[] = L"wWinMain";

// Set once, never cleared within a run.
BYTE DesktopSwitchEventDetected = 0;
BYTE SystemIdleDetected = 0;
BYTE MinimumDelayPeriodPassed = 0;

// For the callbacks, which carry no context: published for the length of a run.
IdleDetectContext* g_idleDetectContext = nullptr;
CWaiterCalls* g_waiterCalls = nullptr;

template <class Action>
class ScopeGuard {
public:
    explicit ScopeGuard(Action action) : action_(std::move(action)) {}
    ~ScopeGuard() { action_(); }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

private:
    Action action_;
};

// Both timers, once both exist, go together, the maximum-delay timer first.
class RunTimers {
public:
    RunTimers(CWaiterCalls& calls, UINT_PTR maximumDelay, UINT_PTR queryInterval)
        : calls_(calls), maximumDelay_(maximumDelay), queryInterval_(queryInterval) {}
    ~RunTimers() {
        EvtKillTimer(L"MaximumDelay", maximumDelay_);
        calls_.KillTimer(maximumDelay_);
        EvtKillTimer(L"QueryInterval", queryInterval_);
        calls_.KillTimer(queryInterval_);
    }
    RunTimers(const RunTimers&) = delete;
    RunTimers& operator=(const RunTimers&) = delete;

private:
    CWaiterCalls& calls_;
    UINT_PTR maximumDelay_;
    UINT_PTR queryInterval_;
};

ETWLogging::LogSiteFacts MainSite(DWORD line) { return {line, kMainFunction, LOG_SITE_FILE}; }

void WriteState() {
    const BOOL desktop = DesktopSwitchEventDetected;
    const BOOL idle = SystemIdleDetected;
    const BOOL minimumPassed = MinimumDelayPeriodPassed;
    EvtState(desktop, idle, minimumPassed);
}

// A failed query leaves the flag 0: a desktop that cannot be asked counts as not receiving input.
void TestDesktop(CWaiterCalls& calls) {
    DWORD flag = 0;
    if (!calls.GetDesktopInputFlag(&flag)) flag = 0;
    EvtIsCurrentDesktopInteractive(static_cast<double>(flag));
    if (flag != 0) DesktopSwitchEventDetected = 1;
}

// 1627 stands in for a failure that left no error, so that a missing timer never reads as "idle".
DWORD TimerFailure(DWORD lastError) { return lastError != 0 ? lastError : ERROR_FUNCTION_FAILED; }

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

DWORD WaitForIdle(CWaiterCalls& calls) {
    const WINEVENTPROC procedure = OnWinEvent;
    const DWORD hookFlags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
    const HWINEVENTHOOK hook = SetWinEventHook(EVENT_SYSTEM_DESKTOPSWITCH, EVENT_SYSTEM_DESKTOPSWITCH, nullptr,
                                               procedure, 0, 0, hookFlags);
    EvtSetWinEventHook(hook, EVENT_SYSTEM_DESKTOPSWITCH, EVENT_SYSTEM_DESKTOPSWITCH, nullptr, procedure, 0, 0,
                       static_cast<LONG>(hookFlags));
    ScopeGuard unhook([hook] {
        if (hook) UnhookWinEvent(hook);
        EvtUnhookWinEvent(hook);
    });
    EvtOnWinEvent(hook, EVENT_SYSTEM_DESKTOPSWITCH, nullptr, 0, 0, 0, 0);
    TestDesktop(calls);

    const UINT maximumElapse = ToMilliseconds(GetMaximumDelay(), kMinute);
    const UINT_PTR maximumDelay = calls.SetTimer(maximumElapse, OnTimerMaximumDelay);
    const DWORD maximumError = GetLastError();
    EvtSetTimer(L"MaximumDelay", maximumDelay, maximumElapse, OnTimerMaximumDelay);
    if (!maximumDelay) return TimerFailure(maximumError);
    ETWLogging::LogLine(ETWLogging::kSeverityNormal, MainSite(__LINE__)) << L"MaximumDelay Timer Started";

    const UINT queryElapse = ToMilliseconds(GetQueryInterval(), kSecond);
    const UINT_PTR queryInterval = calls.SetTimer(queryElapse, OnTimerQueryInterval);
    const DWORD queryError = GetLastError();
    EvtSetTimer(L"QueryInterval", queryInterval, queryElapse, OnTimerQueryInterval);
    // The maximum-delay timer is left to the end of the process, which follows at once.
    if (!queryInterval) return TimerFailure(queryError);
    RunTimers timers(calls, maximumDelay, queryInterval);

    // Thread timers and the out-of-context hook arrive here: no window filter.
    MSG message{};
    BOOL got = FALSE;
    while ((got = calls.NextMessage(&message)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // A broken loop is a failure, never the wParam that the last message happened to leave (0 reads as idle).
    if (got != 0) return ERROR_FUNCTION_FAILED;
    return static_cast<DWORD>(message.wParam);
}

bool ReadSetting(const wchar_t* name, DWORD& value) {
    static constexpr wchar_t kSettingsKey[] = L"Software\\Torvex\\Halvard\\OOBEAutoTune";
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    const DWORD rc = QzRegReadValueExW(HKEY_LOCAL_MACHINE, kSettingsKey, name, &type, reinterpret_cast<BYTE*>(&data),
                                       &size, kQzRegRecord);
    // Another type or size would leave bytes of something else in the number.
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return false;
    value = data;
    return true;
}

// Both lines carry the getter's own site, so the log names the getter.
DWORD ReadOrDefault(const wchar_t* name, DWORD fallback, const wchar_t* failureLine, const wchar_t* valueLine,
                    const ETWLogging::LogSiteFacts& site) {
    DWORD value = 0;
    if (!ReadSetting(name, value)) {
        ETWLogging::LogLine(ETWLogging::kSeverityNormal, site) << failureLine;
        value = fallback;
    }
    ETWLogging::LogLine(ETWLogging::kSeverityNormal, site) << valueLine << value;
    return value;
}

}  // namespace

DWORD RunIdleWaiter(const WaiterPlatform& platform) {
    DesktopSwitchEventDetected = 0;
    SystemIdleDetected = 0;
    MinimumDelayPeriodPassed = 0;

    if (!EnableSafeDllSearch() && ETWLogging::IsLogEnabled(ETWLogging::kSeverityError))
        ETWLogging::LogMessage(ETWLogging::kSeverityError, LOG_SITE_FILE, kMainFunction, __LINE__,
                               L"Failed to Initialize Secure DLL Loading, KB2533623 might not be installed, continue.");
    // From the System folder even when the safe search could not be turned on.
    const Basalt::LoadedModule version(LoadSystemLibrary(L"VERSION.dll"));

    ETWLogging::InitLogging(nullptr, L"quillon", ThisModule(), nullptr, 0);
    // The first line is a stream line: it creates the logger, under the stream's group.
    ETWLogging::SetLogStreamModuleName(L"Common");

    EtwRegisterProvider(platform.events);
    ScopeGuard unregister([] { EtwUnregisterProvider(); });

    WriteState();
    const DWORD minimumDelay = ToMilliseconds(GetMinimumDelay(), kMinute);
    if (ETWLogging::IsLogEnabled(ETWLogging::kSeverityNormal))
        ETWLogging::LogMessage(ETWLogging::kSeverityNormal, LOG_SITE_FILE, kMainFunction, __LINE__,
                               L"MinimumDelayInMillisecond : %ld", minimumDelay);
    if (minimumDelay != 0) {
        ETWLogging::LogLine(ETWLogging::kSeverityNormal, MainSite(__LINE__)) << L"Min Delay Sleep Started";
        platform.system.Sleep(minimumDelay);
        ETWLogging::LogLine(ETWLogging::kSeverityNormal, MainSite(__LINE__)) << L"Min Delay Sleep Ended";
    }
    MinimumDelayPeriodPassed = 1;
    WriteState();

    IdleDetectContext context{};
    g_idleDetectContext = &context;
    g_waiterCalls = &platform.system;
    ScopeGuard unpublish([] {
        g_idleDetectContext = nullptr;
        g_waiterCalls = nullptr;
    });
    // In this order: the getters log, and arguments of one call would be read right to left.
    const DWORD memory = GetMemory();
    const DWORD idleTimeCPU = GetIdleTimeCPU();
    const DWORD idleTimeDisk = GetIdleTimeDisk();
    const DWORD idleCountRequired = GetIdleCountRequired();
    const HRESULT opened = IdleDetectInit(context, platform.pdh, memory, idleTimeCPU, idleTimeDisk, idleCountRequired);
    if (opened != S_OK) return static_cast<DWORD>(opened);
    ScopeGuard deinit([] {
        if (g_idleDetectContext) IdleDetectDeinit(*g_idleDetectContext);
        g_idleDetectContext = nullptr;
    });

    return WaitForIdle(platform.system);
}

void CALLBACK OnTimerMaximumDelay(HWND window, UINT message, UINT_PTR id, DWORD time) {
    EvtOnTimer(L"MaximumDelay", window, message, id, time);
    WriteState();
    ETWLogging::LogLine(ETWLogging::kSeverityNormal, LOG_HERE) << L"OnTimerMaximumDelay , Time out";
    PostQuitMessage(ERROR_TIMEOUT);
}

void CALLBACK OnTimerQueryInterval(HWND window, UINT message, UINT_PTR id, DWORD time) {
    if (!DesktopSwitchEventDetected || SystemIdleDetected || !g_idleDetectContext || !IsIdle(*g_idleDetectContext))
        return;
    EvtOnTimer(L"QueryInterval", window, message, id, time);
    SystemIdleDetected = 1;
    WriteState();
    if (MinimumDelayPeriodPassed) {
        ETWLogging::LogLine(ETWLogging::kSeverityNormal, LOG_HERE) << L"OnTimerQueryInterval , System idle detected";
        PostQuitMessage(0);
    }
}

void CALLBACK OnWinEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG idObject, LONG idChild,
                         DWORD eventThread, DWORD eventTime) {
    EvtOnWinEvent(hook, event, window, idObject, idChild, eventThread, eventTime);
    if (event == EVENT_SYSTEM_DESKTOPSWITCH && g_waiterCalls) TestDesktop(*g_waiterCalls);
}

DWORD GetMaximumDelay() {
    return ReadOrDefault(L"MaximumDelay", 10, L"GetMaximumDelay() , failed to retrieve dwMaximumDelay",
                         L"GetMaximumDelay()  dwMaximumDelay : ", LOG_HERE);
}

DWORD GetMinimumDelay() {
    return ReadOrDefault(L"MinimumDelay", 2, L"GetMinimumDelay() , failed to retrieve dwMinimumDelay",
                         L"GetMinimumDelay()  dwMinimumDelay : ", LOG_HERE);
}

DWORD GetMemory() {
    return ReadOrDefault(L"Memory", 256, L"GetMaxWaitTime() , failed to retrieve MemoryMB",
                         L"GetMemoryMB()  dwMemoryMB : ", LOG_HERE);
}

DWORD GetIdleCountRequired() {
    return ReadOrDefault(L"IdleCountRequired", 1, L"GetIdleCountRequired() , failed to retrieve IdleCountRequired",
                         L"GetIdleCountRequired()  dwIdleCountRequired : ", LOG_HERE);
}

DWORD GetIdleTimeCPU() {
    return ReadOrDefault(L"IdleTimeCPU", 80, L"GetIdleTimeCPU() , failed to retrieve dwIdleTimeCPU",
                         L"GetIdleTimeCPU()  dwIdleTimeCPU : ", LOG_HERE);
}

DWORD GetIdleTimeDisk() {
    return ReadOrDefault(L"IdleTimeDisk", 50, L"GetIdleTimeDisk() , failed to retrieve dwIdleTimeDisk",
                         L"GetIdleTimeDisk()  dwIdleTimeDisk : ", LOG_HERE);
}

DWORD GetQueryInterval() {
    return ReadOrDefault(L"QueryInterval", 5, L"GetQueryInterval() , failed to retrieve dwQueryInterval",
                         L"GetQueryInterval()  dwQueryInterval : ", LOG_HERE);
}

// CPU time that the idle waiter uses while it waits: the whole run in this process with a query interval of 1 s,
// counters that never report idle and a desktop that receives input, ended by a 10 s timer of the benchmark.
// GetProcessTimes moves in 10 ms steps under Wine: a figure of 0 means less than 10 ms over the 10 s.
#include <windows.h>

#include <cstdio>

#include "bench/BenchHarness.h"
#include "foundation/basalt/RegValueCodec.h"
#include "quillon/Quillon.h"

namespace {

constexpr UINT kWaitMs = 10000;
constexpr DWORD kStopCode = 0xBE;
int g_samples = 0;

// Counters that exist and always read busy.
class BusyCounters : public CPdhCalls {
public:
    PDH_STATUS LookupPerfNameByIndex(const wchar_t*, DWORD, wchar_t* name, DWORD*) override {
        name[0] = L'X';
        name[1] = L'\0';
        return ERROR_SUCCESS;
    }
    PDH_STATUS MakeCounterPath(PDH_COUNTER_PATH_ELEMENTS_W*, wchar_t* path, DWORD*, DWORD) override {
        path[0] = L'\0';
        return ERROR_SUCCESS;
    }
    PDH_STATUS EnumObjectItems(const wchar_t*, const wchar_t*, wchar_t*, DWORD*, wchar_t*, DWORD*, DWORD,
                               DWORD) override {
        return 0xC0000BB8;
    }
    PDH_STATUS OpenQuery(const wchar_t*, DWORD_PTR, PDH_HQUERY* query) override {
        *query = reinterpret_cast<PDH_HQUERY>(static_cast<UINT_PTR>(1));
        return ERROR_SUCCESS;
    }
    PDH_STATUS AddCounter(PDH_HQUERY, const wchar_t*, DWORD_PTR, PDH_HCOUNTER* counter) override {
        *counter = reinterpret_cast<PDH_HCOUNTER>(static_cast<UINT_PTR>(2));
        return ERROR_SUCCESS;
    }
    PDH_STATUS CollectQueryData(PDH_HQUERY) override {
        ++g_samples;
        return ERROR_SUCCESS;
    }
    PDH_STATUS GetFormattedCounterValue(PDH_HCOUNTER, DWORD, DWORD*, PDH_FMT_COUNTERVALUE* value) override {
        value->CStatus = ERROR_SUCCESS;
        value->longValue = 1;
        return ERROR_SUCCESS;
    }
    PDH_STATUS RemoveCounter(PDH_HCOUNTER) override { return ERROR_SUCCESS; }
    PDH_STATUS CloseQuery(PDH_HQUERY) override { return ERROR_SUCCESS; }
};

class InteractiveDesktop : public CSystemWaiterCalls {
public:
    BOOL GetDesktopInputFlag(DWORD* flag) override {
        *flag = 1;
        return TRUE;
    }
};

bool StoreSetting(Basalt::RegKeyHolder& holder, const char* name, DWORD value) {
    return WriteScrambledRegValue(holder, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value,
                                  kQzRegRecord, true) == ERROR_SUCCESS;
}

void CALLBACK StopWaiting(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(kStopCode); }

ULONGLONG ProcessCpu100ns() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto value = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return value(kernel) + value(user);
}

}  // namespace

int main() {
    Basalt::RegKeyHolder holder;
    if (holder.Create(HKEY_LOCAL_MACHINE, "Software\\Torvex\\Halvard\\OOBEAutoTune", KEY_ALL_ACCESS, nullptr) !=
            ERROR_SUCCESS ||
        !StoreSetting(holder, "MinimumDelay", 0) || !StoreSetting(holder, "QueryInterval", 1)) {
        std::fprintf(stderr, "cannot write the settings\n");
        return 1;
    }

    InteractiveDesktop system;
    BusyCounters pdh;
    CSystemEventCalls events;
    // A thread timer of this thread: the waiter's message loop dispatches it too.
    const UINT_PTR stop = SetTimer(nullptr, 0, kWaitMs, StopWaiting);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const ULONGLONG cpuBefore = ProcessCpu100ns();
    const DWORD code = RunIdleWaiter({system, pdh, events});
    const ULONGLONG cpuAfter = ProcessCpu100ns();
    QueryPerformanceCounter(&end);
    KillTimer(nullptr, stop);
    if (code != kStopCode) {
        std::fprintf(stderr, "the run ended with %lu instead of the benchmark's stop\n", code);
        return 1;
    }

    const double wallMs = double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
    const double cpuMs = double(cpuAfter - cpuBefore) / 10000.0;
    bench::ReportValue("quillon wait: wall time", wallMs, "ms");
    bench::ReportValue("quillon wait: samples taken", g_samples, "");
    bench::ReportValue("quillon wait: CPU time (user + kernel)", cpuMs, "ms");
    bench::ReportValue("quillon wait: share of one core", 100.0 * cpuMs / wallMs, "%");
    return 0;
}

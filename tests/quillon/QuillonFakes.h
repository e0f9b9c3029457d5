#pragma once
// Doubles for the idle waiter's platform calls: scripted PDH counters that record their call order, a recording
// ETW sink that can play an enabling session, and waiter calls that record sleeps, map timer elapses to short real
// timers and script the desktop-input answers.
#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "quillon/EventCalls.h"
#include "quillon/PdhCalls.h"
#include "quillon/WaiterCalls.h"

namespace quillontest {

struct CounterRead {
    PDH_STATUS status = ERROR_SUCCESS;
    LONG value = 0;
};

struct Sample {
    PDH_STATUS collect = ERROR_SUCCESS;
    CounterRead memory, processor, disk;
};

// Values that pass the default thresholds (256 MB, 80 %, 50 %) and values that fail all three.
Sample IdleSample();
Sample BusySample();

class FakePdh : public CPdhCalls {
public:
    FakePdh();

    // Names by index; an index that is missing answers lookupFailure.
    std::map<DWORD, std::wstring> names;
    PDH_STATUS lookupFailure = 0xC0000BB8;  // PDH_CSTATUS_NO_OBJECT
    std::map<DWORD, PDH_STATUS> lookupStatus;  // overrides for single indexes
    // The PhysicalDisk instance list, each name without its terminator; the call adds the terminators.
    std::vector<std::wstring> diskInstances{L"0 C:", L"_Total"};
    PDH_STATUS enumSizeStatus = 0x800007D2;  // PDH_MORE_DATA
    PDH_STATUS enumStatus = ERROR_SUCCESS;
    PDH_STATUS openStatus = ERROR_SUCCESS;
    PDH_STATUS makePathStatus = ERROR_SUCCESS;
    std::map<std::wstring, PDH_STATUS> addStatus;  // by counter path
    PDH_STATUS firstCollect = ERROR_SUCCESS;
    // Per tick after the first collection; the last one repeats.
    std::deque<Sample> samples{IdleSample()};

    std::vector<std::wstring> calls;
    std::vector<DWORD> enumDetailLevels;
    int collections = 0;  // after the opening one
    int removed = 0;
    int closed = 0;

    PDH_STATUS LookupPerfNameByIndex(const wchar_t* machine, DWORD index, wchar_t* name, DWORD* size) override;
    PDH_STATUS MakeCounterPath(PDH_COUNTER_PATH_ELEMENTS_W* elements, wchar_t* path, DWORD* size,
                               DWORD flags) override;
    PDH_STATUS EnumObjectItems(const wchar_t* machine, const wchar_t* object, wchar_t* counters, DWORD* counterChars,
                               wchar_t* instances, DWORD* instanceChars, DWORD detailLevel, DWORD flags) override;
    PDH_STATUS OpenQuery(const wchar_t* dataSource, DWORD_PTR userData, PDH_HQUERY* query) override;
    PDH_STATUS AddCounter(PDH_HQUERY query, const wchar_t* path, DWORD_PTR userData, PDH_HCOUNTER* counter) override;
    PDH_STATUS CollectQueryData(PDH_HQUERY query) override;
    PDH_STATUS GetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, DWORD* type,
                                        PDH_FMT_COUNTERVALUE* value) override;
    PDH_STATUS RemoveCounter(PDH_HCOUNTER counter) override;
    PDH_STATUS CloseQuery(PDH_HQUERY query) override;

private:
    std::map<PDH_HCOUNTER, std::wstring> counterPaths_;
    Sample current_;
    int opened_ = 0;
    bool openingCollected_ = false;
};

struct WrittenEvent {
    EVENT_DESCRIPTOR descriptor{};
    std::vector<std::vector<BYTE>> fields;
};

class FakeEvents : public CEventCalls {
public:
    ~FakeEvents() override;
    bool enableOnRegister = false;  // a session that already has the provider enabled
    ULONG registerStatus = ERROR_SUCCESS;
    int registrations = 0;
    GUID provider{};
    int unregistrations = 0;
    PENABLECALLBACK callback = nullptr;
    void* context = nullptr;
    std::vector<WrittenEvent> written;

    std::vector<USHORT> Ids() const;
    ULONG Register(const GUID* provider, PENABLECALLBACK callback, void* context, REGHANDLE* handle) override;
    ULONG Write(REGHANDLE handle, const EVENT_DESCRIPTOR* descriptor, ULONG count,
                EVENT_DATA_DESCRIPTOR* data) override;
    ULONG Unregister(REGHANDLE handle) override;
};

struct TimerFailure {
    int call;        // 0: the maximum-delay timer, 1: the sampling timer
    DWORD lastError;
};

class FakeWaiter : public CWaiterCalls {
public:
    // Timers the run left behind are the test's to end, so that none fires into a later run.
    ~FakeWaiter() override;
    std::vector<DWORD> sleeps;
    std::vector<UINT> requestedElapses;
    std::vector<UINT_PTR> killed;
    std::map<UINT, UINT> elapseMap;  // requested -> real elapse; unmapped ones are used as given
    std::vector<TimerFailure> failures;
    std::function<void(int call)> onSetTimer;
    // Desktop answers in turn; the last repeats. {succeeded, flag written even when failing}
    std::deque<std::pair<BOOL, DWORD>> desktop{{TRUE, 1}};
    int desktopQueries = 0;
    // The message wait fails (-1) at this call (0 the first), leaving brokenWParam in the message; -1 never.
    int messageFailureAt = -1;
    WPARAM brokenWParam = 0;
    int messageWaits = 0;

    void Sleep(DWORD milliseconds) override;
    UINT_PTR SetTimer(UINT elapse, TIMERPROC procedure) override;
    BOOL KillTimer(UINT_PTR id) override;
    BOOL GetDesktopInputFlag(DWORD* flag) override;
    BOOL NextMessage(MSG* message) override;

private:
    std::vector<UINT_PTR> made_;
};

}  // namespace quillontest

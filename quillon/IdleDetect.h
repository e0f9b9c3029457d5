#pragma once
// The idle test: one PDH query with three counters named by their performance-counter indexes (so any display
// language works): Memory\Available MBytes, Processor(_Total)\% Idle Time and PhysicalDisk(_Total)\% Idle Time.
// The machine is idle when all three exceed their thresholds (unsigned, strictly) for the required number of
// consecutive samples. The disk threshold is eased by the number of physical disks, since _Total averages them.
// A failed collection or read counts as idle (the waiter must not hang on broken counters).
#include <windows.h>
#include <pdh.h>

#include "quillon/PdhCalls.h"

struct IdleDetectContext {
    CPdhCalls* pdh = nullptr;
    PDH_HQUERY query = nullptr;
    PDH_HCOUNTER processorCounter = nullptr;
    PDH_HCOUNTER memoryCounter = nullptr;
    PDH_HCOUNTER diskCounter = nullptr;
    DWORD memoryThreshold = 0;     // MB
    DWORD processorThreshold = 0;  // %
    DWORD diskThreshold = 0;       // %, after the disk-count adjustment
    DWORD idleCountRequired = 0;
    DWORD consecutiveIdleCount = 0;
};

// Opens the query, adds the counters and takes the first sample. 0, or the first failure as an HRESULT
// (a positive PDH status as 0x8007xxxx). A failure releases nothing: the query and the counters added before it
// stay in the context, for the end of the process (the run ends at once) or for IdleDetectDeinit.
HRESULT IdleDetectInit(IdleDetectContext& context, CPdhCalls& pdh, DWORD memoryMB, DWORD idleTimeCPU,
                       DWORD idleTimeDisk, DWORD idleCountRequired);
// One sample; allocates nothing.
bool IsIdle(IdleDetectContext& context);
DWORD IdleDetectDeinit(IdleDetectContext& context);

PDH_STATUS AddCounterByIndex(CPdhCalls& pdh, PDH_HQUERY query, DWORD objectIndex, DWORD counterIndex,
                             const wchar_t* instance, PDH_HCOUNTER* counter);
// At least 1: the instance list of PhysicalDisk holds "_Total" besides one name per disk.
DWORD GetPhysicalDiskCount(CPdhCalls& pdh);

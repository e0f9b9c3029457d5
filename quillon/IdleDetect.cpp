#include "quillon/IdleDetect.h"

#include <pdhmsg.h>
#include <winperf.h>

#include <vector>

#include "quillon/QuillonEvents.h"

namespace {

constexpr DWORD kMemoryObject = 4;
constexpr DWORD kAvailableMBytesCounter = 1382;
constexpr DWORD kProcessorObject = 238;
constexpr DWORD kProcessorIdleTimeCounter = 1746;
constexpr DWORD kPhysicalDiskObject = 234;
constexpr DWORD kDiskIdleTimeCounter = 1482;
constexpr DWORD kNameChars = 1024;
constexpr DWORD kPathChars = 2048;
constexpr DWORD kValueFormat = PDH_FMT_LONG | PDH_FMT_NOCAP100;

HRESULT AsHresult(PDH_STATUS status) {
    if (static_cast<LONG>(status) <= 0) return static_cast<HRESULT>(status);
    return static_cast<HRESULT>(0x80070000u | (status & 0xFFFFu));
}

// A failed read other than a negative calculation means no verdict can be had.
bool ReadCounter(CPdhCalls& pdh, PDH_HCOUNTER counter, DWORD& value) {
    PDH_FMT_COUNTERVALUE formatted{};
    const PDH_STATUS status = pdh.GetFormattedCounterValue(counter, kValueFormat, nullptr, &formatted);
    if (status == ERROR_SUCCESS) {
        value = static_cast<DWORD>(formatted.longValue);
        return true;
    }
    if (status == static_cast<PDH_STATUS>(PDH_CALC_NEGATIVE_DENOMINATOR) ||
        status == static_cast<PDH_STATUS>(PDH_CALC_NEGATIVE_TIMEBASE) ||
        status == static_cast<PDH_STATUS>(PDH_CALC_NEGATIVE_VALUE)) {
        value = 0;
        return true;
    }
    return false;
}

void RemoveCounter(CPdhCalls& pdh, PDH_HCOUNTER& counter) {
    if (!counter) return;
    pdh.RemoveCounter(counter);
    counter = nullptr;
}

void ReleaseQuery(IdleDetectContext& context) {
    if (!context.pdh) return;
    RemoveCounter(*context.pdh, context.memoryCounter);
    RemoveCounter(*context.pdh, context.processorCounter);
    RemoveCounter(*context.pdh, context.diskCounter);
    if (context.query) {
        context.pdh->CloseQuery(context.query);
        context.query = nullptr;
    }
}

}  // namespace

PDH_STATUS AddCounterByIndex(CPdhCalls& pdh, PDH_HQUERY query, DWORD objectIndex, DWORD counterIndex,
                             const wchar_t* instance, PDH_HCOUNTER* counter) {
    wchar_t objectName[kNameChars] = {};
    DWORD size = kNameChars;
    PDH_STATUS status = pdh.LookupPerfNameByIndex(nullptr, objectIndex, objectName, &size);
    if (status != ERROR_SUCCESS) return status;
    wchar_t counterName[kNameChars] = {};
    size = kNameChars;
    status = pdh.LookupPerfNameByIndex(nullptr, counterIndex, counterName, &size);
    if (status != ERROR_SUCCESS) return status;

    PDH_COUNTER_PATH_ELEMENTS_W elements{};
    elements.szObjectName = objectName;
    elements.szInstanceName = const_cast<wchar_t*>(instance);
    elements.dwInstanceIndex = 0;
    elements.szCounterName = counterName;
    wchar_t path[kPathChars] = {};
    size = kPathChars;
    status = pdh.MakeCounterPath(&elements, path, &size, 0);
    if (status != ERROR_SUCCESS) return status;
    return pdh.AddCounter(query, path, 0, counter);
}

DWORD GetPhysicalDiskCount(CPdhCalls& pdh) {
    wchar_t objectName[kNameChars] = {};
    DWORD size = kNameChars;
    if (pdh.LookupPerfNameByIndex(nullptr, kPhysicalDiskObject, objectName, &size) != ERROR_SUCCESS) return 1;

    DWORD counterChars = 0;
    DWORD instanceChars = 0;
    if (pdh.EnumObjectItems(nullptr, objectName, nullptr, &counterChars, nullptr, &instanceChars,
                            PERF_DETAIL_NOVICE, 0) != static_cast<PDH_STATUS>(PDH_MORE_DATA))
        return 1;
    // One spare character each, so that the lists stay double-terminated whatever the call writes.
    std::vector<wchar_t> counters(counterChars + 2, L'\0');
    std::vector<wchar_t> instances(instanceChars + 2, L'\0');
    if (pdh.EnumObjectItems(nullptr, objectName, counters.data(), &counterChars, instances.data(), &instanceChars,
                            PERF_DETAIL_NOVICE, 0) != ERROR_SUCCESS ||
        instanceChars == 0 || instances[0] == L'\0')
        return 1;

    DWORD names = 0;
    for (const wchar_t* name = instances.data(); name < instances.data() + instances.size() && *name;
         name += wcslen(name) + 1)
        ++names;
    return names > 2 ? names - 1 : 1;
}

HRESULT IdleDetectInit(IdleDetectContext& context, CPdhCalls& pdh, DWORD memoryMB, DWORD idleTimeCPU,
                       DWORD idleTimeDisk, DWORD idleCountRequired) {
    context.pdh = &pdh;
    const DWORD diskCount = GetPhysicalDiskCount(pdh);
    const DWORD diskThreshold = 100u - (100u - idleTimeDisk) / diskCount;
    EvtIdleDetectInitEx(memoryMB, idleTimeCPU, diskThreshold, idleCountRequired, diskCount);
    context.memoryThreshold = memoryMB;
    context.processorThreshold = idleTimeCPU;
    context.diskThreshold = diskThreshold;
    context.idleCountRequired = idleCountRequired;
    context.consecutiveIdleCount = 0;

    PDH_STATUS status = pdh.OpenQuery(nullptr, 0, &context.query);
    if (status == ERROR_SUCCESS)
        status = AddCounterByIndex(pdh, context.query, kMemoryObject, kAvailableMBytesCounter, nullptr,
                                   &context.memoryCounter);
    if (status == ERROR_SUCCESS)
        status = AddCounterByIndex(pdh, context.query, kProcessorObject, kProcessorIdleTimeCounter, L"_Total",
                                   &context.processorCounter);
    if (status == ERROR_SUCCESS)
        status = AddCounterByIndex(pdh, context.query, kPhysicalDiskObject, kDiskIdleTimeCounter, L"_Total",
                                   &context.diskCounter);
    if (status == ERROR_SUCCESS) status = pdh.CollectQueryData(context.query);
    // After a failure the run ends without waiting: what was opened stays until the process ends.
    return AsHresult(status);
}

bool IsIdle(IdleDetectContext& context) {
    CPdhCalls& pdh = *context.pdh;
    if (pdh.CollectQueryData(context.query) != ERROR_SUCCESS) return true;
    DWORD memory = 0;
    DWORD processor = 0;
    DWORD disk = 0;
    if (!ReadCounter(pdh, context.memoryCounter, memory) || !ReadCounter(pdh, context.processorCounter, processor) ||
        !ReadCounter(pdh, context.diskCounter, disk))
        return true;

    const bool idle = memory > context.memoryThreshold && processor > context.processorThreshold &&
                      disk > context.diskThreshold;
    EvtIsIdle(memory, processor, disk, idle ? TRUE : FALSE);
    if (!idle) {
        context.consecutiveIdleCount = 0;
        return false;
    }
    ++context.consecutiveIdleCount;
    return context.consecutiveIdleCount >= context.idleCountRequired;
}

DWORD IdleDetectDeinit(IdleDetectContext& context) {
    EvtIdleDetectDeinit();
    ReleaseQuery(context);
    return 0;
}

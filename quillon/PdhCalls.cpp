#include "quillon/PdhCalls.h"

PDH_STATUS CSystemPdhCalls::LookupPerfNameByIndex(const wchar_t* machine, DWORD index, wchar_t* name, DWORD* size) {
    return PdhLookupPerfNameByIndexW(machine, index, name, size);
}

PDH_STATUS CSystemPdhCalls::MakeCounterPath(PDH_COUNTER_PATH_ELEMENTS_W* elements, wchar_t* path, DWORD* size,
                                            DWORD flags) {
    return PdhMakeCounterPathW(elements, path, size, flags);
}

PDH_STATUS CSystemPdhCalls::EnumObjectItems(const wchar_t* machine, const wchar_t* object, wchar_t* counters,
                                            DWORD* counterChars, wchar_t* instances, DWORD* instanceChars,
                                            DWORD detailLevel, DWORD flags) {
    return PdhEnumObjectItemsW(nullptr, machine, object, counters, counterChars, instances, instanceChars,
                               detailLevel, flags);
}

PDH_STATUS CSystemPdhCalls::OpenQuery(const wchar_t* dataSource, DWORD_PTR userData, PDH_HQUERY* query) {
    return PdhOpenQueryW(dataSource, userData, query);
}

PDH_STATUS CSystemPdhCalls::AddCounter(PDH_HQUERY query, const wchar_t* path, DWORD_PTR userData,
                                       PDH_HCOUNTER* counter) {
    return PdhAddCounterW(query, path, userData, counter);
}

PDH_STATUS CSystemPdhCalls::CollectQueryData(PDH_HQUERY query) { return PdhCollectQueryData(query); }

PDH_STATUS CSystemPdhCalls::GetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, DWORD* type,
                                                     PDH_FMT_COUNTERVALUE* value) {
    return PdhGetFormattedCounterValue(counter, format, type, value);
}

PDH_STATUS CSystemPdhCalls::RemoveCounter(PDH_HCOUNTER counter) { return PdhRemoveCounter(counter); }

PDH_STATUS CSystemPdhCalls::CloseQuery(PDH_HQUERY query) { return PdhCloseQuery(query); }

// Stand-in for the Performance Data Helper, built as pdh.dll for the real quillon.exe (Wine loads it from the
// program's folder when WINEDLLOVERRIDES names pdh native): the idle test's three counters by their indexes, one
// physical disk, and samples that are all busy (WELKIN_PDH_SAMPLES unset or "busy") or all idle ("idle"). Each call
// appends one line to the file named by WELKIN_PDH_JOURNAL: the function's name, for a counter read its value.
#include <windows.h>
#include <pdh.h>
#include <pdhmsg.h>

#include <cstring>
#include <string>

#include "tests/doubles/JournalFile.h"

namespace {

std::wstring Setting(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

void Journal(const std::string& line) {
    const std::wstring path = Setting(L"WELKIN_PDH_JOURNAL");
    if (!path.empty()) doubles::AppendToJournal(path.c_str(), line + "\n");
}

const wchar_t* NameOf(DWORD index) {
    switch (index) {
        case 4: return L"Memory";
        case 1382: return L"Available MBytes";
        case 238: return L"Processor";
        case 234: return L"PhysicalDisk";
        case 1746:
        case 1482: return L"% Idle Time";
        default: return nullptr;
    }
}

// Counter handles: the object a counter path names.
enum Counter : UINT_PTR { kMemory = 1, kProcessor = 2, kDisk = 3 };

int query = 0;  // the one query's handle points here

PDH_STATUS CopyOut(const std::wstring& text, wchar_t* buffer, DWORD* size) {
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (!buffer || *size < needed) {
        *size = needed;
        return PDH_MORE_DATA;
    }
    std::memcpy(buffer, text.c_str(), needed * sizeof(wchar_t));
    *size = needed;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

__declspec(dllexport) PDH_STATUS WINAPI PdhLookupPerfNameByIndexW(LPCWSTR, DWORD index, LPWSTR name, LPDWORD size) {
    Journal("PdhLookupPerfNameByIndexW " + std::to_string(index));
    const wchar_t* known = NameOf(index);
    if (!known) return PDH_CSTATUS_NO_OBJECT;
    return size ? CopyOut(known, name, size) : PDH_INVALID_ARGUMENT;
}

__declspec(dllexport) PDH_STATUS WINAPI PdhMakeCounterPathW(PDH_COUNTER_PATH_ELEMENTS_W* elements, LPWSTR path,
                                                            LPDWORD size, DWORD) {
    if (!elements || !size || !elements->szObjectName || !elements->szCounterName) return PDH_INVALID_ARGUMENT;
    std::wstring text = L"\\" + std::wstring(elements->szObjectName);
    if (elements->szInstanceName) text += L"(" + std::wstring(elements->szInstanceName) + L")";
    text += L"\\" + std::wstring(elements->szCounterName);
    return CopyOut(text, path, size);
}

__declspec(dllexport) PDH_STATUS WINAPI PdhEnumObjectItemsW(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR counters,
                                                            LPDWORD counterChars, LPWSTR instances,
                                                            LPDWORD instanceChars, DWORD, DWORD) {
    Journal("PdhEnumObjectItemsW");
    static const wchar_t kCounters[] = L"% Idle Time\0";
    static const wchar_t kInstances[] = L"0 C:\0_Total\0";
    const DWORD counterNeed = sizeof kCounters / sizeof(wchar_t), instanceNeed = sizeof kInstances / sizeof(wchar_t);
    if (!counterChars || !instanceChars) return PDH_INVALID_ARGUMENT;
    if (!counters || !instances || *counterChars < counterNeed || *instanceChars < instanceNeed) {
        *counterChars = counterNeed;
        *instanceChars = instanceNeed;
        return PDH_MORE_DATA;
    }
    std::memcpy(counters, kCounters, sizeof kCounters);
    std::memcpy(instances, kInstances, sizeof kInstances);
    *counterChars = counterNeed;
    *instanceChars = instanceNeed;
    return ERROR_SUCCESS;
}

__declspec(dllexport) PDH_STATUS WINAPI PdhOpenQueryW(LPCWSTR, DWORD_PTR, PDH_HQUERY* handle) {
    Journal("PdhOpenQueryW");
    if (!handle) return PDH_INVALID_ARGUMENT;
    *handle = &query;
    return ERROR_SUCCESS;
}

__declspec(dllexport) PDH_STATUS WINAPI PdhAddCounterW(PDH_HQUERY, LPCWSTR path, DWORD_PTR, PDH_HCOUNTER* counter) {
    Journal("PdhAddCounterW " + doubles::Utf8(path ? path : L"(null)"));
    if (!path || !counter) return PDH_INVALID_ARGUMENT;
    const std::wstring text = path;
    UINT_PTR which = 0;
    if (text.find(L"\\Memory") == 0) which = kMemory;
    if (text.find(L"\\Processor") == 0) which = kProcessor;
    if (text.find(L"\\PhysicalDisk") == 0) which = kDisk;
    if (!which) return PDH_CSTATUS_NO_COUNTER;
    *counter = reinterpret_cast<PDH_HCOUNTER>(which);
    return ERROR_SUCCESS;
}

__declspec(dllexport) PDH_STATUS WINAPI PdhCollectQueryData(PDH_HQUERY) {
    Journal("PdhCollectQueryData");
    return ERROR_SUCCESS;
}

__declspec(dllexport) PDH_STATUS WINAPI PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD, LPDWORD type,
                                                                    PPDH_FMT_COUNTERVALUE value) {
    if (!value) return PDH_INVALID_ARGUMENT;
    const bool idle = Setting(L"WELKIN_PDH_SAMPLES") == L"idle";
    const UINT_PTR which = reinterpret_cast<UINT_PTR>(counter);
    // Idle passes the default thresholds (256 MB, 80 %, 50 %); busy fails all three.
    const LONG reading = which == kMemory ? (idle ? 4096 : 64) : (idle ? 99 : 5);
    if (type) *type = 0;
    value->CStatus = PDH_CSTATUS_VALID_DATA;
    value->longValue = reading;
    Journal("PdhGetFormattedCounterValue " + std::to_string(which) + " " + std::to_string(reading));
    return ERROR_SUCCESS;
}

__declspec(dllexport) PDH_STATUS WINAPI PdhRemoveCounter(PDH_HCOUNTER) {
    Journal("PdhRemoveCounter");
    return ERROR_SUCCESS;
}

__declspec(dllexport) PDH_STATUS WINAPI PdhCloseQuery(PDH_HQUERY) {
    Journal("PdhCloseQuery");
    return ERROR_SUCCESS;
}

}  // extern "C"

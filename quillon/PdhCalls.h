#pragma once
// The Performance Data Helper calls of the idle test. CSystemPdhCalls is the real pdh.dll; tests script a double
// (the machine here has none of the counters the test reads).
#include <windows.h>
#include <pdh.h>

class CPdhCalls {
public:
    virtual ~CPdhCalls() = default;
    virtual PDH_STATUS LookupPerfNameByIndex(const wchar_t* machine, DWORD index, wchar_t* name, DWORD* size) = 0;
    virtual PDH_STATUS MakeCounterPath(PDH_COUNTER_PATH_ELEMENTS_W* elements, wchar_t* path, DWORD* size,
                                       DWORD flags) = 0;
    virtual PDH_STATUS EnumObjectItems(const wchar_t* machine, const wchar_t* object, wchar_t* counters,
                                       DWORD* counterChars, wchar_t* instances, DWORD* instanceChars,
                                       DWORD detailLevel, DWORD flags) = 0;
    virtual PDH_STATUS OpenQuery(const wchar_t* dataSource, DWORD_PTR userData, PDH_HQUERY* query) = 0;
    virtual PDH_STATUS AddCounter(PDH_HQUERY query, const wchar_t* path, DWORD_PTR userData,
                                  PDH_HCOUNTER* counter) = 0;
    virtual PDH_STATUS CollectQueryData(PDH_HQUERY query) = 0;
    virtual PDH_STATUS GetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, DWORD* type,
                                                PDH_FMT_COUNTERVALUE* value) = 0;
    virtual PDH_STATUS RemoveCounter(PDH_HCOUNTER counter) = 0;
    virtual PDH_STATUS CloseQuery(PDH_HQUERY query) = 0;
};

class CSystemPdhCalls : public CPdhCalls {
public:
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
};

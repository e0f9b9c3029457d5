#include "welkin/OsDetect.h"

namespace {

DWORD Classify(const OSVERSIONINFOEXW& v) {
    switch (v.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
        if (v.dwMajorVersion < 4) return COsDetect::kWin95;
        return v.dwMinorVersion < 90 ? COsDetect::kWin98 : COsDetect::kWinMe;
    case VER_PLATFORM_WIN32_NT:
        if (v.dwMajorVersion < 5) return COsDetect::kWinNT4;
        if (v.dwMajorVersion == 5) return v.dwMinorVersion == 0 ? COsDetect::kWin2000 : COsDetect::kWinXP;
        return COsDetect::kVista;
    default:
        return COsDetect::kUnknown;
    }
}

}  // namespace

COsDetect::COsDetect(const OSVERSIONINFOEXW* version, bool extended) {
    if (!version) return;
    flags_ = Classify(*version);
    if (extended && version->dwPlatformId == VER_PLATFORM_WIN32_NT) servicePackMajor_ = version->wServicePackMajor;
}

namespace {

// The record GetVersionExW filled, or null; `extended` tells which form it took.
const OSVERSIONINFOEXW* QueryVersion(OSVERSIONINFOEXW& record, bool& extended) {
    record = {};
    record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    extended = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&record)) != FALSE;
    if (extended) return &record;
    record = {};
    record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&record)) ? &record : nullptr;
}

}  // namespace

COsDetect::COsDetect() {
    OSVERSIONINFOEXW record;
    bool extended = false;
    *this = COsDetect(QueryVersion(record, extended), extended);
}

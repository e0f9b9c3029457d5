#pragma once
// The running Windows as one flag value, from GetVersionExW (the extended record first, then the basic one).
#include <windows.h>

class COsDetect {
public:
    enum : DWORD {
        kWin95 = 1,
        kWin98 = 2,
        kWinMe = 4,
        kWinNT4 = 8,
        kWin2000 = 16,
        kWinXP = 32,    // 5.1 and 5.2
        kVista = 64,    // 6.0 and later
        kUnknown = 0x80000000
    };

    COsDetect();
    // From a version record as the system filled it: null when both queries failed; `extended` when the record is
    // the extended one (only then is its service-pack field kept).
    COsDetect(const OSVERSIONINFOEXW* version, bool extended);
    virtual ~COsDetect() = default;

    DWORD Flags() const { return flags_; }
    // 0 unless the extended query succeeded on the NT platform.
    WORD ServicePackMajor() const { return servicePackMajor_; }

private:
    DWORD flags_ = kUnknown;
    WORD servicePackMajor_ = 0;
};

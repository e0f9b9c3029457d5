#pragma once
// Facts about the running Windows: a version code, the platform word of the path macros, the service pack, the
// version of the system's kernel32.dll, WOW64 and the NT family. The facts come from kernel32.dll's product version
// and from VerifyVersionInfoW probes (never from GetVersionExW), worked out once per proxy on the first question;
// concurrent first callers wait for the one doing the work. Missing facts read as code 0, platform 2 and false.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

namespace Basalt {

// The version probe, replaceable by tests.
class WinOSVersionAPI {
public:
    virtual ~WinOSVersionAPI() = default;
    virtual BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, DWORDLONG conditionMask);
};

// True only when IsWow64Process exists and reports that this process runs under WOW64.
bool QueryIsWow64Process();
bool IsRunningUnderWow64();

namespace internal {

// Version codes and platform codes as the callers know them.
enum OSVersionCode : DWORD {
    kOSUnknown = 0,
    kOS9xMinor0 = 1,
    kOS9xMinor1To89 = 2,
    kOSNTBelow5 = 3,
    kOSNT50 = 4,
    kOS9xMinor90Up = 5,
    kOSNT5x = 6,
    kOSNT60 = 7,
    kOSNT61 = 8,
    kOSNT62 = 9,
    kOSNT63Up = 10,
    kOSNT10 = 11,
    kOSOther = 12,
};
enum PlatformCode : DWORD { kPlatformWin32 = 0, kPlatformX64 = 1, kPlatformUnknown = 2 };

class OSInfoProxy {
public:
    class _Impl;

    // An empty pointer stands for the system's own probe.
    explicit OSInfoProxy(std::shared_ptr<WinOSVersionAPI> api = nullptr);
    // Tests hand in an implementation whose kernel32 version is their own.
    explicit OSInfoProxy(std::shared_ptr<_Impl> impl);
    virtual ~OSInfoProxy();

    virtual DWORD getOSVersionCode();
    virtual DWORD getPlatformCode();
    // False when the facts are missing or the version is one this code does not know (code 12).
    virtual bool getVersionRecord(DWORD& major, DWORD& minor, WORD& servicePack);
    virtual bool getOSVersionAndPlatform(DWORD& code, DWORD& platform);
    virtual bool isWow64Process();
    virtual bool isNTPlatform();
    virtual bool getKernelFileVersion(DWORD parts[4]);

private:
    std::shared_ptr<_Impl> impl_;
};

class OSInfoProxy::_Impl {
public:
    explicit _Impl(std::shared_ptr<WinOSVersionAPI> api);
    virtual ~_Impl() = default;

    // Computes the facts on the first call; true when they exist.
    bool ensureFacts();
    bool probePlatform(DWORD platformId);

    DWORD major = 0, minor = 0;
    WORD servicePack = 0;
    DWORD kernelParts[4] = {};
    DWORD versionCode = kOSUnknown;
    DWORD platformCode = kPlatformUnknown;

protected:
    // kernel32.dll's "ProductVersion" text from the System folder; "" when unreadable.
    virtual std::wstring readKernelProductVersion();

private:
    bool probe(DWORD typeMask, BYTE condition, const OSVERSIONINFOEXW& wanted);
    bool probeMinorLess(DWORD value);
    void computeFacts();
    bool find9xMinor(DWORD& minorOut);

    std::shared_ptr<WinOSVersionAPI> api_;
    std::atomic<int> state_{0};  // 0 not started, 1 running, 2 done
    bool computed_ = false;
};

}  // namespace internal

}  // namespace Basalt

#include "foundation/basalt/OSVersion.h"

#include <thread>

#include "foundation/basalt/FileVersionInfo.h"
#include "foundation/basalt/ProcAddress.h"

namespace Basalt {

BOOL WinOSVersionAPI::VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, DWORDLONG conditionMask) {
    return ::VerifyVersionInfoW(info, typeMask, conditionMask);
}

bool QueryIsWow64Process() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = GetProcAddressAs<IsWow64ProcessFn>(GetModuleHandleW(L"kernel32"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64 == TRUE;
}

bool IsRunningUnderWow64() { return internal::OSInfoProxy(std::make_shared<WinOSVersionAPI>()).isWow64Process(); }

namespace internal {

namespace {

// One part of a version text: decimal digits, optionally followed by a blank and a remark ("1 (build)"). Anything
// else - an empty part, a letter, a number beyond 32 bits - makes the whole text unusable.
bool ParsePart(const std::wstring& part, DWORD& value) {
    size_t digits = 0;
    unsigned long long number = 0;
    while (digits < part.size() && part[digits] >= L'0' && part[digits] <= L'9') {
        number = number * 10 + static_cast<unsigned>(part[digits] - L'0');
        if (number > 0xFFFFFFFFull) return false;
        ++digits;
    }
    if (digits == 0 || (digits < part.size() && part[digits] != L' ')) return false;
    value = static_cast<DWORD>(number);
    return true;
}

// Splits at "." and converts the first four parts; false when there is no usable part.
bool ParseVersionText(const std::wstring& text, DWORD parts[4], size_t& count) {
    count = 0;
    if (text.empty()) return false;
    size_t start = 0;
    while (count < 4) {
        const size_t dot = text.find(L'.', start);
        const std::wstring part = text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
        if (!ParsePart(part, parts[count])) return false;
        ++count;
        if (dot == std::wstring::npos) break;
        start = dot + 1;
    }
    return count > 0;
}

DWORD NTVersionCode(DWORD major, DWORD minor) {
    if (major < 5) return kOSNTBelow5;
    if (major == 5) return minor == 0 ? kOSNT50 : kOSNT5x;
    if (major == 6) {
        switch (minor) {
            case 0: return kOSNT60;
            case 1: return kOSNT61;
            case 2: return kOSNT62;
            default: return kOSNT63Up;
        }
    }
    return major == 10 ? kOSNT10 : kOSOther;
}

// The highest service pack worth probing for a version; 0 means none is probed.
WORD ServicePackProbeStart(DWORD major, DWORD minor) {
    if (major == 5) return minor == 0 ? 4 : 3;
    if (major == 6 && minor == 0) return 2;
    if (major == 6 && minor == 1) return 1;
    return 0;
}

}  // namespace

OSInfoProxy::_Impl::_Impl(std::shared_ptr<WinOSVersionAPI> api)
    : api_(api ? std::move(api) : std::make_shared<WinOSVersionAPI>()) {}

std::wstring OSInfoProxy::_Impl::readKernelProductVersion() {
    SystemFileVersionInfo kernel;
    if (!kernel.load(L"kernel32.dll")) return {};
    return kernel.getString(L"ProductVersion");
}

bool OSInfoProxy::_Impl::ensureFacts() {
    int expected = 0;
    if (state_.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
        try {
            computeFacts();
        } catch (...) {
            computed_ = false;  // no memory while reading the resource: the facts stay missing
        }
        state_.store(2, std::memory_order_release);
    } else {
        while (state_.load(std::memory_order_acquire) != 2) std::this_thread::yield();
    }
    return computed_;
}

bool OSInfoProxy::_Impl::probe(DWORD typeMask, BYTE condition, const OSVERSIONINFOEXW& wanted) {
    OSVERSIONINFOEXW info = wanted;
    info.dwOSVersionInfoSize = sizeof(info);
    const DWORDLONG mask = VerSetConditionMask(0, typeMask, condition);
    return api_->VerifyVersionInfoW(&info, typeMask, mask) == 1;
}

bool OSInfoProxy::_Impl::probePlatform(DWORD platformId) {
    OSVERSIONINFOEXW wanted{};
    wanted.dwPlatformId = platformId;
    return probe(VER_PLATFORMID, VER_EQUAL, wanted);
}

bool OSInfoProxy::_Impl::probeMinorLess(DWORD value) {
    OSVERSIONINFOEXW wanted{};
    wanted.dwMinorVersion = value;
    return probe(VER_MINORVERSION, VER_LESS, wanted);
}

// A search of the 9x minor version below 100 by less-than probes: blocks of 8, then halving to the exact value.
bool OSInfoProxy::_Impl::find9xMinor(DWORD& minorOut) {
    constexpr DWORD kRoundedLimit = 104;
    DWORD bound = 8;
    while (bound <= kRoundedLimit && !probeMinorLess(bound)) bound += 8;
    if (bound > kRoundedLimit) return false;
    DWORD value = bound - 4;
    for (DWORD step : {2u, 1u}) value = probeMinorLess(value) ? value - step : value + step;
    OSVERSIONINFOEXW wanted{};
    wanted.dwMinorVersion = value;
    minorOut = probe(VER_MINORVERSION, VER_EQUAL, wanted) ? value : value - 1;
    return true;
}

void OSInfoProxy::_Impl::computeFacts() {
    size_t count = 0;
    DWORD parts[4] = {};
    if (!ParseVersionText(readKernelProductVersion(), parts, count)) return;

    if (probePlatform(VER_PLATFORM_WIN32_WINDOWS)) {
        DWORD found = 0;
        if (!find9xMinor(found)) return;
        major = 4;
        minor = found;
        servicePack = 0;
        versionCode = found == 0 ? kOS9xMinor0 : found < 90 ? kOS9xMinor1To89 : kOS9xMinor90Up;
        platformCode = kPlatformWin32;
    } else if (probePlatform(VER_PLATFORM_WIN32_NT)) {
        major = parts[0];
        minor = count > 1 ? parts[1] : 0;
        versionCode = NTVersionCode(major, minor);
        platformCode = (major > 5 || (major == 5 && minor >= 1)) ? kPlatformX64 : kPlatformWin32;
        servicePack = 0;
        for (WORD pack = ServicePackProbeStart(major, minor); pack >= 1; --pack) {
            OSVERSIONINFOEXW wanted{};
            wanted.wServicePackMajor = pack;
            if (probe(VER_SERVICEPACKMAJOR, VER_EQUAL, wanted)) {
                servicePack = pack;
                break;
            }
        }
    } else {
        return;
    }
    for (size_t i = 0; i < 4; ++i) kernelParts[i] = parts[i];
    computed_ = true;
}

OSInfoProxy::OSInfoProxy(std::shared_ptr<WinOSVersionAPI> api) : impl_(std::make_shared<_Impl>(std::move(api))) {}

OSInfoProxy::OSInfoProxy(std::shared_ptr<_Impl> impl)
    : impl_(impl ? std::move(impl) : std::make_shared<_Impl>(nullptr)) {}

OSInfoProxy::~OSInfoProxy() = default;

DWORD OSInfoProxy::getOSVersionCode() { return impl_->ensureFacts() ? impl_->versionCode : kOSUnknown; }

DWORD OSInfoProxy::getPlatformCode() { return impl_->ensureFacts() ? impl_->platformCode : kPlatformUnknown; }

bool OSInfoProxy::getVersionRecord(DWORD& major, DWORD& minor, WORD& servicePack) {
    if (!impl_->ensureFacts() || impl_->versionCode == kOSOther) return false;
    major = impl_->major;
    minor = impl_->minor;
    servicePack = impl_->servicePack;
    return true;
}

bool OSInfoProxy::getOSVersionAndPlatform(DWORD& code, DWORD& platform) {
    const bool facts = impl_->ensureFacts();
    code = facts ? impl_->versionCode : kOSUnknown;
    platform = facts ? impl_->platformCode : kPlatformUnknown;
    return facts;
}

bool OSInfoProxy::isWow64Process() { return QueryIsWow64Process(); }

bool OSInfoProxy::isNTPlatform() { return impl_->probePlatform(VER_PLATFORM_WIN32_NT); }

bool OSInfoProxy::getKernelFileVersion(DWORD parts[4]) {
    if (!impl_->ensureFacts()) return false;
    for (size_t i = 0; i < 4; ++i) parts[i] = impl_->kernelParts[i];
    return true;
}

}  // namespace internal

}  // namespace Basalt

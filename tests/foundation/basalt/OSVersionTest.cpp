#include "foundation/basalt/OSVersion.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace Basalt::internal {
namespace {

// Answers VerifyVersionInfoW probes like a system of the given family, minor version and service pack. Probes of
// the wrong record size are refused, as the system would.
class FakeVersionAPI : public WinOSVersionAPI {
public:
    FakeVersionAPI(DWORD platform, DWORD minor, WORD servicePack)
        : platform_(platform), minor_(minor), servicePack_(servicePack) {}

    BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, DWORDLONG conditionMask) override {
        ++probes;
        if (info->dwOSVersionInfoSize != 284) return FALSE;
        DWORD shift = 0;
        while (!((typeMask >> shift) & 1)) ++shift;
        const BYTE condition = static_cast<BYTE>((conditionMask >> (3 * shift)) & 7);
        DWORD actual = 0, wanted = 0;
        switch (typeMask) {
            case VER_PLATFORMID: actual = platform_, wanted = info->dwPlatformId; break;
            case VER_MINORVERSION: actual = minor_, wanted = info->dwMinorVersion; break;
            case VER_SERVICEPACKMAJOR: actual = servicePack_, wanted = info->wServicePackMajor; break;
            default: return FALSE;
        }
        if (condition == VER_EQUAL) return actual == wanted;
        if (condition == VER_LESS) return actual < wanted;
        return FALSE;
    }

    std::atomic<int> probes{0};

private:
    DWORD platform_, minor_;
    WORD servicePack_;
};

// kernel32's product version as the test wants it; counts the reads and can be slow to show concurrent callers.
class FixedKernelImpl : public OSInfoProxy::_Impl {
public:
    FixedKernelImpl(std::shared_ptr<WinOSVersionAPI> api, std::wstring text, DWORD delayMs = 0)
        : _Impl(std::move(api)), text_(std::move(text)), delayMs_(delayMs) {}
    std::atomic<int> reads{0};

protected:
    std::wstring readKernelProductVersion() override {
        ++reads;
        if (delayMs_) Sleep(delayMs_);
        return text_;
    }

private:
    std::wstring text_;
    DWORD delayMs_;
};

OSInfoProxy ProxyFor(const std::wstring& kernelVersion, DWORD platform = VER_PLATFORM_WIN32_NT, DWORD minor = 0,
                     WORD servicePack = 0) {
    auto api = std::make_shared<FakeVersionAPI>(platform, minor, servicePack);
    return OSInfoProxy(std::make_shared<FixedKernelImpl>(api, kernelVersion));
}

struct NTCase {
    const wchar_t* kernelVersion;
    WORD systemServicePack;
    DWORD code, platform;
    bool hasRecord;
    DWORD major, minor;
    WORD servicePack;
};

TEST(OSInfoProxy, NTVersionTable) {
    const NTCase cases[] = {
        {L"10.0.19041.1", 0, kOSNT10, kPlatformX64, true, 10, 0, 0},
        {L"10", 0, kOSNT10, kPlatformX64, true, 10, 0, 0},  // one part: minor 0
        {L"6.3.9600.16384", 0, kOSNT63Up, kPlatformX64, true, 6, 3, 0},
        {L"6.4.9841.0", 0, kOSNT63Up, kPlatformX64, true, 6, 4, 0},
        {L"6.2.9200.0", 1, kOSNT62, kPlatformX64, true, 6, 2, 0},  // no service pack probed for 6.2
        {L"6.1.7601.17514 (win7sp1_rtm)", 1, kOSNT61, kPlatformX64, true, 6, 1, 1},
        {L"6.0.6002.18005", 2, kOSNT60, kPlatformX64, true, 6, 0, 2},
        {L"5.2.3790.0", 2, kOSNT5x, kPlatformX64, true, 5, 2, 2},
        {L"5.1.2600.5512", 3, kOSNT5x, kPlatformX64, true, 5, 1, 3},
        {L"5.0.2195.6717", 4, kOSNT50, kPlatformWin32, true, 5, 0, 4},
        {L"5.0.2195.6717", 5, kOSNT50, kPlatformWin32, true, 5, 0, 0},  // beyond the probed range
        {L"4.0.1381.0", 0, kOSNTBelow5, kPlatformWin32, true, 4, 0, 0},
        {L"7.0.0.0", 0, kOSOther, kPlatformX64, false, 0, 0, 0},
        {L"11.0.1.0", 0, kOSOther, kPlatformX64, false, 0, 0, 0},
    };
    for (const NTCase& c : cases) {
        SCOPED_TRACE(c.kernelVersion);
        OSInfoProxy proxy = ProxyFor(c.kernelVersion, VER_PLATFORM_WIN32_NT, 0, c.systemServicePack);
        EXPECT_EQ(c.code, proxy.getOSVersionCode());
        EXPECT_EQ(c.platform, proxy.getPlatformCode());
        DWORD code = 99, platform = 99;
        EXPECT_TRUE(proxy.getOSVersionAndPlatform(code, platform));
        EXPECT_EQ(c.code, code);
        EXPECT_EQ(c.platform, platform);
        DWORD major = 99, minor = 99;
        WORD servicePack = 99;
        EXPECT_EQ(c.hasRecord, proxy.getVersionRecord(major, minor, servicePack));
        if (c.hasRecord) {
            EXPECT_EQ(c.major, major);
            EXPECT_EQ(c.minor, minor);
            EXPECT_EQ(c.servicePack, servicePack);
        }
    }
}

TEST(OSInfoProxy, KernelVersionPartsAreKept) {
    OSInfoProxy full = ProxyFor(L"10.0.19041.1288");
    DWORD parts[4] = {};
    ASSERT_TRUE(full.getKernelFileVersion(parts));
    EXPECT_EQ((std::vector<DWORD>{10, 0, 19041, 1288}), std::vector<DWORD>(parts, parts + 4));

    OSInfoProxy shortText = ProxyFor(L"6.1");
    DWORD few[4] = {7, 7, 7, 7};
    ASSERT_TRUE(shortText.getKernelFileVersion(few));
    EXPECT_EQ((std::vector<DWORD>{6, 1, 0, 0}), std::vector<DWORD>(few, few + 4));
}

TEST(OSInfoProxy, UnusableVersionTextLeavesTheFactsMissing) {
    for (const wchar_t* text : {L"", L"x.0", L"10.a.1.0", L"10..1", L".1", L"99999999999.0", L"ten"}) {
        SCOPED_TRACE(text);
        OSInfoProxy proxy = ProxyFor(text);
        EXPECT_EQ(static_cast<DWORD>(kOSUnknown), proxy.getOSVersionCode());
        EXPECT_EQ(static_cast<DWORD>(kPlatformUnknown), proxy.getPlatformCode());
        DWORD code = 99, platform = 99, major = 0, minor = 0, parts[4] = {};
        WORD servicePack = 0;
        EXPECT_FALSE(proxy.getOSVersionAndPlatform(code, platform));
        EXPECT_EQ(0u, code);
        EXPECT_EQ(2u, platform);
        EXPECT_FALSE(proxy.getVersionRecord(major, minor, servicePack));
        EXPECT_FALSE(proxy.getKernelFileVersion(parts));
    }
}

TEST(OSInfoProxy, NeitherFamilyLeavesTheFactsMissing) {
    OSInfoProxy proxy = ProxyFor(L"10.0.1.0", /*platform*/ 0);
    EXPECT_EQ(0u, proxy.getOSVersionCode());
    EXPECT_EQ(2u, proxy.getPlatformCode());
    EXPECT_FALSE(proxy.isNTPlatform());
}

TEST(OSInfoProxy, NineXMinorVersionIsFoundByProbes) {
    for (DWORD minor = 0; minor < 100; ++minor) {
        SCOPED_TRACE(minor);
        OSInfoProxy proxy = ProxyFor(L"4.10.1998", VER_PLATFORM_WIN32_WINDOWS, minor);
        DWORD major = 0, found = 999;
        WORD servicePack = 9;
        ASSERT_TRUE(proxy.getVersionRecord(major, found, servicePack));
        EXPECT_EQ(4u, major);
        EXPECT_EQ(minor, found);
        EXPECT_EQ(0u, servicePack);
        EXPECT_EQ(minor == 0 ? kOS9xMinor0 : minor < 90 ? kOS9xMinor1To89 : kOS9xMinor90Up, proxy.getOSVersionCode());
        EXPECT_EQ(static_cast<DWORD>(kPlatformWin32), proxy.getPlatformCode());
    }
    // At or above the search limit nothing answers: no facts.
    OSInfoProxy beyond = ProxyFor(L"4.10.1998", VER_PLATFORM_WIN32_WINDOWS, 104);
    EXPECT_EQ(0u, beyond.getOSVersionCode());
}

TEST(OSInfoProxy, FactsAreWorkedOutOnceForConcurrentFirstCallers) {
    auto api = std::make_shared<FakeVersionAPI>(VER_PLATFORM_WIN32_NT, 0, 0);
    auto impl = std::make_shared<FixedKernelImpl>(api, L"10.0.22621.1", 100);
    OSInfoProxy proxy(impl);
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i)
        callers.emplace_back([&] {
            if (proxy.getOSVersionCode() != kOSNT10 || proxy.getPlatformCode() != kPlatformX64) ++wrong;
        });
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(1, impl->reads.load());
    const int probesAfterFirst = api->probes.load();
    proxy.getOSVersionCode();
    EXPECT_EQ(probesAfterFirst, api->probes.load());
}

TEST(OSInfoProxy, RunningSystemIsTheNTFamilyWithAKernelVersion) {
    OSInfoProxy proxy;
    EXPECT_TRUE(proxy.isNTPlatform());
    DWORD parts[4] = {};
    ASSERT_TRUE(proxy.getKernelFileVersion(parts));
    EXPECT_GE(parts[0], 5u);
    EXPECT_NE(static_cast<DWORD>(kOSUnknown), proxy.getOSVersionCode());
    EXPECT_EQ(static_cast<DWORD>(kPlatformX64), proxy.getPlatformCode());
}

TEST(OSInfoProxy, Wow64IsFalseForA64BitProcess) {
    EXPECT_FALSE(QueryIsWow64Process());
    EXPECT_FALSE(IsRunningUnderWow64());
    EXPECT_FALSE(OSInfoProxy().isWow64Process());
}

}  // namespace
}  // namespace Basalt::internal

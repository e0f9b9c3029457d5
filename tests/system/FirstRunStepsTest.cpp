// The first-run steps in the real welkin.exe: the first start before OOBE is done performs them, a later start after
// OOBE is done performs none of them.
#include <windows.h>

#include <string>

#include "tests/system/WelkinRun.h"

namespace systemtest {
namespace {

constexpr wchar_t kScanner[] = L"Software\\Torvex\\Dunmore\\YVCore\\On Access Scanner\\QzShield\\Configuration";
constexpr wchar_t kAntivirusInstall[] = L"SOFTWARE\\Torvex\\Skellig\\InstallSettings";
constexpr wchar_t kAntivirusSubstitute[] = L"SOFTWARE\\Torvex\\Skellig\\InstallSettings\\Substitute";
constexpr wchar_t kHalvardQueryParams[] = L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute\\QueryParams";

TEST_F(WelkinRun, FirstRunStepsRunOnlyUntilOobeIsDone) {
    const std::wstring install = Scratch().File(L"kvr");
    Scratch().Write(L"kvr\\qzoemmap.ini", "[LCIDLangCodeMap]\r\n1031=de-de\r\n"
                                                                   "[oeminfo]\r\nbuildKey=BK9\r\n"
                                                                   "[de-de_terms_]\r\naffid=777\r\nculture=de-DE\r\n");
    SetString(L"SOFTWARE\\Torvex\\KVR", L"Install Dir", install);
    SetString(L"SOFTWARE\\Torvex\\KVR\\AppInfo\\Substitute", L"lcid", L"1031");
    SetDword(kScanner, L"OASEnabled", 1);
    SetString(kAntivirusInstall, L"Install Dir", L"C:\\AV");
    SetString(kAntivirusSubstitute, L"placeholder", L"x");
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);

    ASSERT_EQ(0u, RunWelkin());
    EXPECT_EQ(3u, Dword(kScanner, L"OASEnabled").value_or(0));
    DWORD type = 0;
    std::vector<BYTE> installTime;
    EXPECT_TRUE(testsupport::ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kAntivirusSubstitute, L"InstallTime", type,
                                                   installTime));
    EXPECT_EQ(8u, installTime.size());
    EXPECT_EQ(L"de-de", String(kHalvardQueryParams, L"lang").value_or(L""));
    EXPECT_EQ(L"de-DE", String(kHalvardQueryParams, L"culture").value_or(L""));
    EXPECT_EQ(L"777", String(kHalvardQueryParams, L"affid").value_or(L""));
    ASSERT_EQ(1u, Dword(kHalvardOem, L"OOBEDone").value_or(0));

    // OOBE is done now: another start with the run flag set leaves every first-run value alone.
    SetDword(kScanner, L"OASEnabled", 1);
    testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kHalvardQueryParams);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAntivirusSubstitute, L"InstallTime");
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    ASSERT_EQ(0u, RunWelkin());
    EXPECT_EQ(1u, Dword(kScanner, L"OASEnabled").value_or(0));
    EXPECT_FALSE(testsupport::ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kAntivirusSubstitute, L"InstallTime", type,
                                                    installTime));
    EXPECT_FALSE(KeyExists(kHalvardQueryParams));
}

}  // namespace
}  // namespace systemtest

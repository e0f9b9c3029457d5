// The real welkin.exe putting OEM values into command arguments and expanding the "isdudata" template.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "foundation/basalt/RegValueCodec.h"
#include "tests/system/WelkinRun.h"

namespace systemtest {
namespace {

constexpr wchar_t kKVRAppInfo[] = L"SOFTWARE\\Torvex\\KVR\\AppInfo";
constexpr wchar_t kHalvardAppInfo[] = L"SOFTWARE\\Torvex\\Halvard\\AppInfo";

TEST_F(WelkinRun, CommandArgumentsGetTheBuildsAffiliateAndLanguage) {
    struct Case {
        bool kvr;
        const wchar_t* oem;
        const wchar_t* userMode;
        const wchar_t* oemInfo;
    };
    const Case cases[] = {
        {false, kHalvardOem, kHalvardUserMode, L"software\\torvex\\Halvard\\oeminfo\\B-9"},
        {true, kKVROem, L"Software\\Torvex\\KVR\\Oem\\Manage\\UserMode", L"software\\torvex\\oeminfo\\B-9"},
    };
    for (const Case& c : cases) {
        if (c.kvr) InstallKVR();
        SetRecordDword(c.oem, L"OEMMgr", 1);
        AddCommand(c.userMode, L"tokens", L"--exit 0 /a=%AFFID% /l=%LANGID% /again=%AFFID%", 0, true);
        SetRecordString(std::wstring(c.userMode) + L"\\tokens", L"BuildKey", L"B-9");
        SetRecordString(c.oemInfo, L"affid", L"A3");
        SetRecordString(c.oemInfo, L"lang", L"fr-fr");
        AddCommand(c.userMode, L"untouched", L"--exit 0 /a=%AFFID%", 0, true);  // no build key
        EXPECT_EQ(0u, RunWelkin());
        const auto starts = CommandStarts();
        ASSERT_EQ(2u, starts.size());
        std::vector<std::string> lines{starts[0].commandLine, starts[1].commandLine};
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(" --exit 0 /a=%AFFID%", lines[0]);
        EXPECT_EQ(" --exit 0 /a=A3 /l=fr-fr /again=%AFFID%", lines[1]);
        ResetMachine();
    }
}

TEST_F(WelkinRun, IsduDataIsExpandedInEitherFamily) {
    // Halvard family: no KVR substitute key, so the volatile copy made in this run has no values.
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    SetRecordString(kHalvardAppInfo, L"isdudata", L"lcid=%lcid%&lang=%lang%");
    SetString(std::wstring(kHalvardAppInfo) + L"\\Substitute", L"lcid", L"1031");
    SetString(std::wstring(kHalvardAppInfo) + L"\\Substitute", L"lang", L"de-de");
    EXPECT_EQ(0u, RunWelkin());
    EXPECT_EQ(L"lcid=1031&lang=de-de", RecordString(kHalvardAppInfo, L"isdudata").value_or(L"?"));
    EXPECT_FALSE(RecordString(kKVRAppInfo, L"isdudata").has_value());
    ResetMachine();

    // KVR family: expanded against the KVR values and stored under both AppInfo keys.
    InstallKVR();
    SetRecordDword(kKVROem, L"OEMMgr", 1);
    SetRecordString(kKVRAppInfo, L"isdudata", L"affid=%affid%");
    SetString(std::wstring(kKVRAppInfo) + L"\\Substitute", L"affid", L"K1");
    EXPECT_EQ(0u, RunWelkin());
    EXPECT_EQ(L"affid=K1", RecordString(kKVRAppInfo, L"isdudata").value_or(L"?"));
    EXPECT_EQ(L"affid=K1", RecordString(kHalvardAppInfo, L"isdudata").value_or(L"?"));
}

}  // namespace
}  // namespace systemtest

// OEM information of a build and its tokens in command arguments, read as the module of the Halvard family reads it.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "tests/support/CommandJournal.h"
#include "tests/support/ScrambledRecord.h"
#include "tests/support/ScratchRegistry.h"
#include "welkin/welkinmodule.h"

namespace {

using testsupport::RegView;
using testsupport::ScratchRegistry;

constexpr wchar_t kCommandKey[] = L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode\\cmd";
constexpr wchar_t kBuildKey[] = L"software\\torvex\\Halvard\\oeminfo\\B-17";

using testsupport::Narrow;

class OemInfo : public ::testing::Test {
protected:
    void TearDown() override { ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"Software\\Torvex", RegView::Wow64); }

    void SetRecord(const std::wstring& key, const wchar_t* name, const std::string& text) {
        registry_.SetBinary(HKEY_LOCAL_MACHINE, key, name,
                            testsupport::ScrambledRecord(REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1)),
                            RegView::Wow64);
    }
    // The arguments as the command would get them.
    std::wstring Replaced(const std::wstring& arguments) {
        wchar_t commandLine[CwelkinModule::kCommandLineChars] = {};
        wcsncpy(commandLine, arguments.c_str(), CwelkinModule::kCommandLineChars - 1);
        module_.ReplaceMacros(commandLine, kCommandKey);
        return commandLine;
    }

    ScratchRegistry registry_;
    CwelkinModule module_;  // no KVR uninstall entry: the Halvard family
};

TEST_F(OemInfo, FirstOccurrenceOfEachTokenTakesTheBuildsValues) {
    SetRecord(kCommandKey, L"BuildKey", "B-17");
    SetRecord(kBuildKey, L"affid", "A7");
    SetRecord(kBuildKey, L"lang", "de-de");
    struct Case {
        const wchar_t* arguments;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"/a=%AFFID% /l=%LANGID%", L"/a=A7 /l=de-de"},
        {L"%AFFID%%AFFID% %LANGID% %LANGID%", L"A7%AFFID% de-de %LANGID%"},
        {L"no tokens", L"no tokens"},
        {L"%affid% %LangId%", L"%affid% %LangId%"},  // exact case
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Replaced(c.arguments)) << Narrow(c.arguments);

    // A result that would not fit the command line is left as it was, never cut.
    SetRecord(kBuildKey, L"affid", std::string(700, 'a'));
    const std::wstring nearlyFull = L"%AFFID%" + std::wstring(CwelkinModule::kCommandLineChars - 700, L'x');
    EXPECT_EQ(nearlyFull, Replaced(nearlyFull));
    const std::wstring fits = L"%AFFID%" + std::wstring(CwelkinModule::kCommandLineChars - 701, L'x');
    EXPECT_EQ(std::wstring(700, L'a') + std::wstring(CwelkinModule::kCommandLineChars - 701, L'x'), Replaced(fits));
}

TEST_F(OemInfo, AnyMissingValueLeavesTheArgumentsWhole) {
    struct Case {
        const char* what;
        bool buildKey, buildKeyAsRecord, affid, lang;
    };
    const Case cases[] = {
        {"no build key", false, true, true, true},
        {"build key stored plain", true, false, true, true},
        {"no affid", true, true, false, true},
        {"affid but no language code", true, true, true, false},
    };
    for (const Case& c : cases) {
        if (c.buildKey) {
            if (c.buildKeyAsRecord) {
                SetRecord(kCommandKey, L"BuildKey", "B-17");
            } else {
                registry_.SetString(HKEY_LOCAL_MACHINE, kCommandKey, L"BuildKey", L"B-17", RegView::Wow64);
            }
        }
        if (c.affid) SetRecord(kBuildKey, L"affid", "A7");
        if (c.lang) SetRecord(kBuildKey, L"lang", "de-de");
        EXPECT_EQ(L"/a=%AFFID% /l=%LANGID%", Replaced(L"/a=%AFFID% /l=%LANGID%")) << c.what;
        TearDown();
    }
}

TEST_F(OemInfo, ReadersReportWhatTheyFound) {
    std::wstring text = L"kept";
    EXPECT_FALSE(module_.GetBuildKey(kCommandKey, text));
    EXPECT_EQ(0, module_.GetAffID(L"B-17", text));
    EXPECT_EQ(0, module_.GetLangCode(L"B-17", text));
    EXPECT_EQ(L"kept", text);
    SetRecord(kCommandKey, L"BuildKey", "B-17");
    SetRecord(kBuildKey, L"affid", "A7");
    SetRecord(kBuildKey, L"lang", "de-de");
    EXPECT_TRUE(module_.GetBuildKey(kCommandKey, text));
    EXPECT_EQ(L"B-17", text);
    EXPECT_EQ(1, module_.GetAffID(L"B-17", text));
    EXPECT_EQ(L"A7", text);
    EXPECT_EQ(1, module_.GetLangCode(L"B-17", text));
    EXPECT_EQ(L"de-de", text);
}

TEST_F(OemInfo, PartnerDataFilesThatExistMakeACommonBuild) {
    std::vector<std::wstring> paths{L"stale"};
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), module_.GetPDFilename(paths));  // no install folder
    EXPECT_TRUE(paths.empty());
    EXPECT_FALSE(module_.IsCommonBuildModel());

    registry_.SetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\KVR", L"Install Dir", L"C:\\Program Files\\Torvex\\KVR",
                        RegView::Wow64);
    EXPECT_EQ(0u, module_.GetPDFilename(paths));  // no partner data keys
    EXPECT_TRUE(paths.empty());

    const std::wstring folder = L"C:\\Programdata\\Torvex\\KVR\\Regwiz\\PartnerData\\";
    SHCreateDirectoryExW(nullptr, (folder + L"folder.dat").c_str(), nullptr);
    const HANDLE file = CreateFileW((folder + L"present.dat").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                    nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    const std::wstring key = L"SOFTWARE\\Torvex\\Halvard\\CommonBuild\\PartnerDataFile\\";
    registry_.SetString(HKEY_LOCAL_MACHINE, key + L"{1}", L"GuidFilename", L"folder.dat", RegView::Wow64);
    registry_.SetString(HKEY_LOCAL_MACHINE, key + L"{2}", L"GuidFilename", L"present.dat", RegView::Wow64);
    registry_.SetString(HKEY_LOCAL_MACHINE, key + L"{3}", L"GuidFilename", L"missing.dat", RegView::Wow64);
    registry_.SetString(HKEY_LOCAL_MACHINE, key + L"{4}", L"Other", L"present.dat", RegView::Wow64);
    EXPECT_EQ(0u, module_.GetPDFilename(paths));
    EXPECT_EQ(std::vector<std::wstring>{folder + L"present.dat"}, paths);
    EXPECT_TRUE(module_.IsCommonBuildModel());

    DeleteFileW((folder + L"present.dat").c_str());
    RemoveDirectoryW((folder + L"folder.dat").c_str());
    EXPECT_FALSE(module_.IsCommonBuildModel());
}

}  // namespace

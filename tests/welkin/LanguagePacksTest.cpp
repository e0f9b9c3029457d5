// The factory-mode language-pack clean-up on a module of the Halvard family, with the active language set as the
// first-run steps leave it: only whole subfolders of the listed application folders go.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/RecordingLogger.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"
#include "welkin/welkinmodule.h"

namespace {

using testsupport::ScratchRegistry;
using testsupport::TempFolder;

constexpr wchar_t kLangList[] = L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\LangList";
constexpr wchar_t kAppList[] = L"Software\\Torvex\\Halvard\\Oem\\Manage\\MUI\\AppList";

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class LanguagePacks : public testsupport::LoggingFixture {
protected:
    void SetUp() override {
        LoggingFixture::SetUp();
        // root\keep.txt beside the application folder, root\apps\keep.txt in it, one folder per language.
        apps_ = root_.File(L"apps");
        root_.Write(L"keep.txt", "x");
        root_.Write(L"apps\\keep.txt", "x");
        for (const wchar_t* language : {L"de-DE", L"en-US"})
            root_.Write(std::wstring(L"apps\\") + language + L"\\strings.dll", "x");
        registry_.SetString(HKEY_LOCAL_MACHINE, kAppList, L"suite", apps_);
    }
    void TearDown() override {
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"Software\\Torvex");
        LoggingFixture::TearDown();
    }

    void RemoveWith(const std::wstring& langPacks) {
        registry_.SetString(HKEY_LOCAL_MACHINE, kLangList, L"LangPacks", langPacks);
        CwelkinModule module;
        ASSERT_FALSE(module.UsesKVRFamily());
        wcscpy(module.activeLanguage, L"en-US");
        EXPECT_EQ(0u, module.RemoveUnwantedJXVLangPacks());
    }
    bool Logged(const std::wstring& message) {
        return std::any_of(journal.entries.begin(), journal.entries.end(),
                           [&](const testsupport::Entry& e) { return e.message == message; });
    }

    TempFolder root_;
    std::wstring apps_;
    ScratchRegistry registry_;
};

TEST_F(LanguagePacks, NamesThatAreNoSubfolderNameAreSkipped) {
    struct Case {
        const wchar_t* langPacks;
        const wchar_t* skipped;
    };
    const Case cases[] = {{L",de-DE", L""},
                          {L"de-DE,.", L"."},
                          {L"..,de-DE", L".."},
                          {L"de-DE,..\\apps", L"..\\apps"},
                          {L"de-DE,x/..", L"x/.."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "LangPacks " << c.langPacks);
        journal.entries.clear();
        root_.Write(L"apps\\de-DE\\strings.dll", "x");
        RemoveWith(c.langPacks);
        EXPECT_FALSE(Exists(apps_ + L"\\de-DE"));
        EXPECT_TRUE(Exists(apps_ + L"\\en-US\\strings.dll"));  // the active language stays
        EXPECT_TRUE(Exists(apps_ + L"\\keep.txt"));
        EXPECT_TRUE(Exists(root_.File(L"keep.txt")));
        EXPECT_TRUE(Logged(std::wstring(L"Skipping language pack name that is not a folder name : ") + c.skipped));
    }
}

TEST_F(LanguagePacks, TheWholeValueOf1300BytesIsRead) {
    // 649 characters and the terminator: 322 short names, then de-DE at the very end.
    std::wstring langPacks;
    for (int i = 0; i < 322; ++i) langPacks += L"z,";
    langPacks += L"de-DE";
    ASSERT_EQ(649u, langPacks.size());
    RemoveWith(langPacks);
    EXPECT_FALSE(Exists(apps_ + L"\\de-DE"));
    EXPECT_TRUE(Exists(apps_ + L"\\en-US"));
}

}  // namespace

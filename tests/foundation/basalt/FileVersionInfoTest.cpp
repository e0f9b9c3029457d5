#include "foundation/basalt/FileVersionInfo.h"

#include <gtest/gtest.h>

#include <knownfolders.h>

#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

namespace Basalt {
namespace {

const std::wstring kTwoTranslations = testsupport::WindowsPathOf(TWO_TRANSLATIONS_DLL);
const std::wstring kNoTranslation = testsupport::WindowsPathOf(NO_TRANSLATION_DLL);

TEST(FileVersionInfo, StringsComeFromTheFirstTranslationThatHasThem) {
    FileVersionInfo info;
    EXPECT_EQ(L"", info.getString(L"FileVersion"));  // nothing loaded yet
    ASSERT_TRUE(info.load(kTwoTranslations.c_str()));
    EXPECT_EQ(L"1.2.3.4", info.getString(L"FileVersion"));
    EXPECT_EQ(L"5.6.7.8", info.getString(L"ProductVersion"));
    EXPECT_EQ(L"nur deutsch", info.getString(L"Comments"));  // only the second translation has it
    EXPECT_EQ(L"", info.getString(L"LegalCopyright"));
}

TEST(FileVersionInfo, ASecondLoadIsRefusedAndKeepsTheFirstFile) {
    FileVersionInfo info;
    ASSERT_TRUE(info.load(kTwoTranslations.c_str()));
    EXPECT_FALSE(info.load(kNoTranslation.c_str()));
    EXPECT_EQ(L"1.2.3.4", info.getString(L"FileVersion"));
}

TEST(FileVersionInfo, FilesWithoutUsableResourceGiveNothing) {
    FileVersionInfo noTable;
    ASSERT_TRUE(noTable.load(kNoTranslation.c_str()));
    EXPECT_EQ(L"", noTable.getString(L"FileVersion"));

    FileVersionInfo missing;
    EXPECT_FALSE(missing.load(L"Z:\\no\\such\\file.dll"));
    EXPECT_EQ(L"", missing.getString(L"FileVersion"));
    // A failed load does not use up the object.
    EXPECT_TRUE(missing.load(kTwoTranslations.c_str()));
}

// Restores the current directory when the test leaves.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& path) {
        wchar_t old[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, old);
        old_ = old;
        SetCurrentDirectoryW(path.c_str());
    }
    ~CurrentDirectory() { SetCurrentDirectoryW(old_.c_str()); }

private:
    std::wstring old_;
};

TEST(SystemFileVersionInfo, ReadsTheSystemFoldersCopyWhateverTheCurrentDirectoryHolds) {
    testsupport::TempFolder folder;
    ASSERT_TRUE(CopyFileW(kTwoTranslations.c_str(), folder.File(L"kernel32.dll").c_str(), FALSE));
    CurrentDirectory here(folder.Path());

    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    FileVersionInfo direct;
    ASSERT_TRUE(direct.load((std::wstring(system) + L"\\kernel32.dll").c_str()));

    SystemFileVersionInfo info;
    ASSERT_TRUE(info.load(L"kernel32.dll"));
    EXPECT_NE(L"5.6.7.8", info.getString(L"ProductVersion"));
    EXPECT_EQ(direct.getString(L"ProductVersion"), info.getString(L"ProductVersion"));
    EXPECT_FALSE(info.getString(L"ProductVersion").empty());
}

// Fails the first lookups, then answers with the real folder.
class FlakyShell : public ShlObjAPI {
public:
    explicit FlakyShell(int failures) : failures_(failures) {}
    HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path) override {
        ++calls;
        EXPECT_TRUE(IsEqualGUID(id, FOLDERID_System));
        if (failures_-- > 0) {
            *path = nullptr;
            return E_FAIL;
        }
        return ShlObjAPI::SHGetKnownFolderPath(id, flags, token, path);
    }
    int calls = 0;

private:
    int failures_;
};

TEST(SystemFileVersionInfo, AnUnknownFolderIsAskedForAgain) {
    testsupport::TempFolder folder;
    CurrentDirectory here(folder.Path());  // "\kernel32.dll" must not be found by accident
    auto shell = std::make_shared<FlakyShell>(1);
    SystemFileVersionInfo info(shell);
    EXPECT_FALSE(info.load(L"kernel32.dll"));
    EXPECT_TRUE(info.load(L"kernel32.dll"));
    EXPECT_EQ(2, shell->calls);
    EXPECT_FALSE(info.getString(L"ProductVersion").empty());
}

}  // namespace
}  // namespace Basalt

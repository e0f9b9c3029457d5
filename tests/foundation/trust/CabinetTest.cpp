// Trust lists delivered in cabinets.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "foundation/trust/CabinetApi.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/support/TempFolder.h"

namespace {

size_t ExtractedCopiesInTemp() {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string pattern = std::string(folder) + "tru*.js";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    size_t count = 0;
    do ++count;
    while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

class CabinetTest : public ::testing::Test {
protected:
    void TearDown() override { trusttest::DeleteUpdateAtom(); }

    testsupport::TempFolder folder_;
    std::wstring installedPath_ = folder_.File(L"Core\\trusted.js");
    std::unique_ptr<TrustList> installed_ =
        std::make_unique<TrustList>(installedPath_, std::make_shared<trusttest::FixedListSignature>(true));
    CabinetApi cabinet_;
};

TEST_F(CabinetTest, ExtractsAndInstallsANewerList) {
    ASSERT_TRUE(cabinet_.IsUsable());
    const size_t before = ExtractedCopiesInTemp();
    EXPECT_TRUE(ExtractTrustListFromCabinet(cabinet_, *installed_, trusttest::TrustListFile(L"signed_list_v8.cab").c_str()));
    EXPECT_EQ(installed_->Version(), 8u);
    EXPECT_EQ(testsupport::TempFolder::ReadAll(installedPath_),
              testsupport::TempFolder::ReadAll(trusttest::TrustListFile(L"list_v8.js")));
    EXPECT_EQ(ExtractedCopiesInTemp(), before);
}

TEST_F(CabinetTest, CabinetsThatInstallNothing) {
    const size_t before = ExtractedCopiesInTemp();
    for (const wchar_t* name : {L"signed_no_list.cab", L"signed_list_v7.cab", L"corrupt.cab", L"absent.cab"}) {
        EXPECT_FALSE(ExtractTrustListFromCabinet(cabinet_, *installed_, trusttest::TrustListFile(name).c_str())) << name;
        EXPECT_FALSE(installed_->IsLoaded()) << name;
    }
    EXPECT_EQ(GetFileAttributesW(installedPath_.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ExtractedCopiesInTemp(), before);
}

TEST_F(CabinetTest, CabinetWithTwoListsIsRefusedAndLeavesNoCopy) {
    // Entries "trusted.js" (version 8) and "Trusted.JS" (version 9).
    const size_t before = ExtractedCopiesInTemp();
    const std::wstring cabinet = trusttest::TrustListFile(L"two_lists.cab");
    EXPECT_FALSE(ExtractTrustListFromCabinet(cabinet_, *installed_, cabinet.c_str()));
    EXPECT_FALSE(installed_->IsLoaded());
    EXPECT_EQ(GetFileAttributesW(installedPath_.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ExtractedCopiesInTemp(), before);
}

TEST_F(CabinetTest, ReadOnlyEntryLeavesNoReadOnlyFileBehind) {
    // The entry is named TRUSTED.JS and carries the read-only attribute.
    const size_t before = ExtractedCopiesInTemp();
    EXPECT_TRUE(ExtractTrustListFromCabinet(cabinet_, *installed_,
                                            trusttest::TrustListFile(L"readonly_list_v8.cab").c_str()));
    EXPECT_EQ(installed_->Version(), 8u);
    // The extracted copy could be deleted...
    EXPECT_EQ(ExtractedCopiesInTemp(), before);
    // ...and the installed file can be replaced by the next list.
    const DWORD attributes = GetFileAttributesW(installedPath_.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(InstallTrustListFromFile(*installed_, trusttest::TrustListFile(L"list_v9.js")));
    EXPECT_EQ(installed_->Version(), 9u);
}

// Points the process's temporary folder (TMP) at a folder of its own while it lives.
class TemporaryFolderRedirect {
public:
    explicit TemporaryFolderRedirect(const std::wstring& folder) {
        hadOld_ = GetEnvironmentVariableW(L"TMP", old_, MAX_PATH) != 0;
        SetEnvironmentVariableW(L"TMP", folder.c_str());
    }
    ~TemporaryFolderRedirect() { SetEnvironmentVariableW(L"TMP", hadOld_ ? old_ : nullptr); }
    TemporaryFolderRedirect(const TemporaryFolderRedirect&) = delete;
    TemporaryFolderRedirect& operator=(const TemporaryFolderRedirect&) = delete;

private:
    wchar_t old_[MAX_PATH] = {};
    bool hadOld_ = false;
};

TEST_F(CabinetTest, ExtractionTruncatesALeftoverCopy) {
    testsupport::TempFolder temp;
    TemporaryFolderRedirect redirect(temp.Path() + L"\\");
    char folder[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    // Unique names follow on from the last one handed out (or from the clock, when it has moved on): make longer
    // leftover copies for the names that come next, until the next name is sure to be one of them.
    const auto nextUnique = [&folder] {
        char probe[MAX_PATH] = {};
        if (!GetTempFileNameA(folder, "trustedjs", 0, probe)) return 0ul;
        DeleteFileA(probe);
        return std::stoul(std::string(PathFindFileNameA(probe)).substr(3), nullptr, 16);
    };
    const std::string leftover(512, '#');  // longer than the list it must not survive in
    std::set<unsigned> made;
    bool covered = false;
    for (int round = 0; round < 60 && !covered; ++round) {
        const unsigned long last = nextUnique();
        covered = true;
        for (unsigned k = 1; k <= 100; ++k) covered = covered && made.count((last + k) & 0xffff) != 0;
        for (unsigned k = 1; k <= 300 && !covered; ++k) {
            const unsigned unique = (last + k) & 0xffff;
            if (unique == 0 || !made.insert(unique).second) continue;
            char name[32];
            std::snprintf(name, sizeof(name), "tru%x.js", unique);
            temp.Write(std::wstring(name, name + strlen(name)), leftover);
        }
    }
    // On a machine busy enough for the clock to outrun the copies, the case cannot be set up: say so, not fail.
    if (!covered) GTEST_SKIP() << "the unique-name clock outran the leftover copies";

    ASSERT_TRUE(ExtractTrustListFromCabinet(cabinet_, *installed_,
                                            trusttest::TrustListFile(L"signed_list_v8.cab").c_str()));
    EXPECT_EQ(testsupport::TempFolder::ReadAll(installedPath_),
              testsupport::TempFolder::ReadAll(trusttest::TrustListFile(L"list_v8.js")));
}

}  // namespace

// Trust lists delivered in cabinets.
#include <gtest/gtest.h>

#include <memory>

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

}  // namespace

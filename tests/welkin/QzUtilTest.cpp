// The utility-library binding against the signed doubles of tests/doubles: where Load looks and in which order,
// the trust check before loading, references, slots, and the version-folder and platform-folder rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "foundation/basalt/ProcAddress.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/ProcessRunner.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"
#include "welkin/QzUtil.h"
#include "welkin/TrustedModule.h"

namespace {

using testsupport::RegView;
using testsupport::ScratchRegistry;

constexpr wchar_t kKVRKey[] = L"SOFTWARE\\Torvex\\KVR";
constexpr wchar_t kPlatformKey[] = L"SOFTWARE\\Torvex\\Platform";
constexpr wchar_t kInstallDirValue[] = L"qzutil64_install_dir";

enum Identity : DWORD { kMain = 1, kOther = 2, kPartial = 3 };

std::wstring SignedBuild(Identity identity) {
    static const wchar_t* const names[] = {nullptr, L"QzUtil", L"QzUtil_other", L"QzUtil_partial"};
    return trusttest::SignedFile(L"good", names[identity]);
}

DWORD IdentityOf(const CQzUtil& util) {
    const auto identity = Basalt::GetProcAddressAs<DWORD (*)()>(util.library, "QzUtilDoubleIdentity");
    return identity ? identity() : 0;
}

class FixedAdminCheck : public QzAdminCheck {
public:
    explicit FixedAdminCheck(BOOL answer) : answer_(answer) {}
    BOOL IsAdmin(CQzUtil&) const override { return answer_; }

private:
    BOOL answer_;
};

// A machine whose platform folder ("CommonFiles Dir") is a scratch folder, with the validation service vouching
// for files whose signature WinVerifyTrust accepts: signed doubles load, the unsigned build is refused.
class QzUtilBindingTest : public ::testing::Test {
protected:
    QzUtilBindingTest() {
        validation_.Install(L"15.5", trusttest::SignedFolder(L"good"));
        validation_.SetMode(trusttest::ValidationDouble::kVouchSigned);
        registry_.Create(HKEY_LOCAL_MACHINE, kPlatformKey, RegView::Wow64);
        registry_.SetString(HKEY_LOCAL_MACHINE, kKVRKey, L"CommonFiles Dir", platform_, RegView::Wow64);
        CreateDirectoryW(platform_.c_str(), nullptr);
        CreateDirectoryW(versions_.c_str(), nullptr);
    }

    // Copies a build into the folder (created) as QzUtil.dll; returns the folder.
    std::wstring Place(const std::wstring& build, const std::wstring& folder) const {
        CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_TRUE(CopyFileW(build.c_str(), (folder + L"\\QzUtil.dll").c_str(), FALSE)) << build.c_str();
        return folder;
    }
    std::wstring PlaceVersion(Identity identity, const wchar_t* version) const {
        return Place(SignedBuild(identity), versions_ + L"\\" + version);
    }
    void SetInstallDir(const std::wstring& folder) {
        registry_.SetString(HKEY_LOCAL_MACHINE, kPlatformKey, kInstallDirValue, folder, RegView::Wow64);
    }
    std::wstring InstallDir() const {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kPlatformKey, kInstallDirValue, type, data, RegView::Wow64))
            return L"(absent)";
        return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t)).c_str();
    }

    trusttest::ValidationDouble validation_;
    ScratchRegistry registry_;
    testsupport::TempFolder scratch_;
    const std::wstring platform_ = scratch_.File(L"Platform");
    const std::wstring versions_ = platform_ + L"\\qzutil";
};

TEST_F(QzUtilBindingTest, RecordedFolderComesBeforeVersionAndPlatformFolders) {
    SetInstallDir(Place(SignedBuild(kOther), scratch_.File(L"recorded")));
    PlaceVersion(kMain, L"12,2,0,0");
    Place(SignedBuild(kPartial), platform_);
    CQzUtil util;
    ASSERT_EQ(util.Load(), 0u);
    EXPECT_EQ(IdentityOf(util), kOther);
    EXPECT_EQ(InstallDir(), scratch_.File(L"recorded"));
}

TEST_F(QzUtilBindingTest, HighestVersionFolderLoadsAndAnAdministratorRecordsIt) {
    // The recorded folder holds no library: the version search still runs and rewrites the value.
    SetInstallDir(scratch_.File(L"empty"));
    PlaceVersion(kOther, L"12,1,154,0");
    const std::wstring best = PlaceVersion(kMain, L"12,2,0,0");
    Place(SignedBuild(kPartial), platform_);
    const FixedAdminCheck administrator(TRUE);
    const FixedAdminCheck user(FALSE);
    {
        CQzUtil util(administrator);
        ASSERT_EQ(util.Load(), 0u);
        EXPECT_EQ(IdentityOf(util), kMain);
        EXPECT_EQ(InstallDir(), best);
    }
    SetInstallDir(scratch_.File(L"empty"));
    CQzUtil util(user);
    ASSERT_EQ(util.Load(), 0u);
    EXPECT_EQ(IdentityOf(util), kMain);
    EXPECT_EQ(InstallDir(), scratch_.File(L"empty")) << "a non-administrator records nothing";
}

TEST_F(QzUtilBindingTest, PlatformFolderItselfIsTheLastResort) {
    Place(SignedBuild(kPartial), platform_);
    CQzUtil util;
    ASSERT_EQ(util.Load(), 0u);
    EXPECT_EQ(IdentityOf(util), kPartial);
    EXPECT_EQ(InstallDir(), L"(absent)");
}

TEST_F(QzUtilBindingTest, NothingLoadableGives126AndLeavesEverySlotNull) {
    CQzUtil util;
    EXPECT_EQ(util.Load(), 126u);
    EXPECT_EQ(util.library, nullptr);
    EXPECT_EQ(util.QzDeleteFilesDeferedW, nullptr);
    EXPECT_EQ(util.QzCreateTask, nullptr);
    EXPECT_EQ(util.QzDeleteTask, nullptr);
    EXPECT_EQ(util.QzGetOSVersion2, nullptr);

    // Without the value the platform folder is the suite's Common Files folder, which holds nothing here.
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kKVRKey, RegView::Wow64);
    EXPECT_EQ(CQzUtil().Load(), 126u);
}

TEST_F(QzUtilBindingTest, UnsignedLibraryIsRefusedBeforeLoadingAndTheSearchGoesOn) {
    const std::wstring unsignedFolder = Place(trusttest::UnsignedFile(L"QzUtil"), scratch_.File(L"unsigned"));
    const std::wstring unsignedPath = unsignedFolder + L"\\QzUtil.dll";
    SetInstallDir(unsignedFolder);
    {
        CQzUtil util;
        EXPECT_EQ(LoadModuleFromFolder(util, unsignedFolder.c_str()), 5u);
        EXPECT_EQ(util.library, nullptr);
        EXPECT_EQ(util.Load(), 126u);
        EXPECT_EQ(util.QzDeleteTask, nullptr);
        EXPECT_EQ(GetModuleHandleW(unsignedPath.c_str()), nullptr);
    }
    PlaceVersion(kMain, L"1,0,0,0");
    CQzUtil util;
    ASSERT_EQ(util.Load(), 0u);
    EXPECT_EQ(IdentityOf(util), kMain);
    EXPECT_EQ(GetModuleHandleW(unsignedPath.c_str()), nullptr);
}

TEST_F(QzUtilBindingTest, LoadModuleFromFolderCodes) {
    CQzUtil util;
    EXPECT_EQ(LoadModuleFromFolder(util, scratch_.File(L"nothing here").c_str()), 2u);
    const std::wstring longFolder(300, L'a');
    EXPECT_EQ(LoadModuleFromFolder(util, (L"C:\\" + longFolder).c_str()), 206u);
    // A folder given with its final backslash names the same file.
    const std::wstring folder = Place(SignedBuild(kMain), scratch_.File(L"slash"));
    EXPECT_EQ(LoadModuleFromFolder(util, (folder + L"\\").c_str()), 0u);
    EXPECT_EQ(IdentityOf(util), kMain);
}

TEST_F(QzUtilBindingTest, AFolderThatIsNotAbsoluteIsNeitherJudgedNorLoaded) {
    // A signed library under the current folder, where a relative folder would find it.
    Place(SignedBuild(kOther), scratch_.File(L"relative_folder"));
    Place(SignedBuild(kPartial), platform_);
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch_.Path().c_str()));
    for (const wchar_t* folder : {L"relative_folder", L".\\relative_folder"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(folder)));
        validation_.ClearJournal();
        CQzUtil direct;
        EXPECT_EQ(LoadModuleFromFolder(direct, folder), static_cast<DWORD>(ERROR_BAD_PATHNAME));
        EXPECT_EQ(direct.library, nullptr);
        // As the recorded folder: passed over for the platform folder.
        SetInstallDir(folder);
        CQzUtil util;
        ASSERT_EQ(util.Load(), 0u);
        EXPECT_EQ(IdentityOf(util), kPartial);
        for (const std::wstring& line : validation_.Journal())
            EXPECT_EQ(line.find(L"relative_folder"), std::wstring::npos) << testing::PrintToString(line);
    }
    SetCurrentDirectoryW(previous);
}

// The loader appends ".dll" to a file name without an extension: the signed file of that name is never judged for
// the unsigned one beside it.
TEST_F(QzUtilBindingTest, AModuleNameWithoutAnExtensionIsNeitherJudgedNorLoaded) {
    const std::wstring folder = Place(trusttest::UnsignedFile(L"QzUtil"), scratch_.File(L"bare"));
    ASSERT_TRUE(CopyFileW(SignedBuild(kMain).c_str(), (folder + L"\\QzUtil").c_str(), FALSE));
    validation_.ClearJournal();
    int loads = 0;
    HMODULE module = nullptr;
    EXPECT_EQ(LoadTrustedModule(folder + L"\\QzUtil",
                                [&](const wchar_t* file) {
                                    ++loads;
                                    return LoadLibraryW(file);
                                },
                                module),
              static_cast<DWORD>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(module, nullptr);
    EXPECT_EQ(loads, 0);
    EXPECT_TRUE(validation_.Journal().empty()) << testing::PrintToString(validation_.Journal());
    if (module) FreeLibrary(module);
}

TEST_F(QzUtilBindingTest, SecondLoadTakesOneMoreReference) {
    const std::wstring path = Place(SignedBuild(kMain), platform_) + L"\\QzUtil.dll";
    {
        CQzUtil util;
        ASSERT_EQ(util.Load(), 0u);
        const HMODULE first = util.library;
        ASSERT_EQ(util.Load(), 0u);
        EXPECT_EQ(util.library, first);
        EXPECT_NE(util.QzCreateTask, nullptr);
    }
    // The destructor gave back one of the two references.
    const HMODULE still = GetModuleHandleW(path.c_str());
    ASSERT_NE(still, nullptr);
    FreeLibrary(still);
    EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr);
}

TEST_F(QzUtilBindingTest, MissingExportLeavesOnlyItsSlotNull) {
    Place(SignedBuild(kPartial), platform_);
    CQzUtil util;
    ASSERT_EQ(util.Load(), 0u);
    EXPECT_EQ(util.QzDeleteTask, nullptr);
    EXPECT_NE(util.QzCreateTask, nullptr);
    EXPECT_NE(util.QzDeleteFilesDeferedW, nullptr);
    EXPECT_NE(util.QzDeleteDirectoryDeferedW, nullptr);
    EXPECT_NE(util.QzGetOSVersion2, nullptr);
    EXPECT_EQ(util.slot26, nullptr);
    EXPECT_EQ(util.slot27, nullptr);
}

TEST_F(QzUtilBindingTest, BoundSlotsCallTheLibrary) {
    const std::wstring journal = scratch_.File(L"journal.txt");
    SetEnvironmentVariableW(L"WELKIN_QZUTIL_JOURNAL", journal.c_str());
    Place(SignedBuild(kMain), platform_);
    {
        CQzUtil util;
        ASSERT_EQ(util.Load(), 0u);
        util.QzDeleteTask(L"welkin");
        util.QzDeleteFilesDeferedW(L"C:\\x\\*.*", 1);
        DWORD version = 6;
        EXPECT_EQ(util.QzGetOSVersion2(&version), 0u);
        EXPECT_EQ(version, 10u);
    }
    SetEnvironmentVariableW(L"WELKIN_QZUTIL_JOURNAL", nullptr);
    EXPECT_EQ(testsupport::TempFolder::ReadAll(journal),
              "QzDeleteTask welkin\nQzDeleteFilesDeferedW C:\\x\\*.* 1\nQzGetOSVersion2 6\n");
}

// The program's own folder comes before every registry setting: a copy of a small loader program with a library
// beside it.
TEST_F(QzUtilBindingTest, ProgramFolderComesFirst) {
    const std::wstring programFolder = Place(SignedBuild(kMain), scratch_.File(L"program"));
    const std::wstring probe = programFolder + L"\\qzutil_probe.exe";
    ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(QZUTIL_PROBE_EXE).c_str(), probe.c_str(), FALSE));
    SetInstallDir(Place(SignedBuild(kOther), scratch_.File(L"recorded")));
    PlaceVersion(kPartial, L"12,2,0,0");
    const testsupport::ProcessResult result = testsupport::RunProcess(probe);
    ASSERT_TRUE(result.started) << result.startError;
    EXPECT_EQ(result.exitCode, kMain);

    DeleteFileW((programFolder + L"\\QzUtil.dll").c_str());
    EXPECT_EQ(testsupport::RunProcess(probe).exitCode, kOther);
}

TEST(IsUserAdminTest, WineTokenIsAnAdministrators) {
    CQzUtil util;
    BOOL presentNotEnabled = 7;
    EXPECT_TRUE(IsUserAdmin(util, &presentNotEnabled));
    EXPECT_EQ(presentNotEnabled, 7);
}

class VersionFolderTest : public ::testing::Test {
protected:
    // Entries: folder names; a leading '!' marks a hidden folder, a leading '#' a file.
    std::wstring Highest(const std::vector<std::wstring>& entries) {
        testsupport::TempFolder parent;
        for (const std::wstring& entry : entries) {
            const std::wstring path = parent.File(entry.substr(entry[0] == L'!' || entry[0] == L'#'));
            if (entry[0] == L'#') {
                parent.Write(entry.substr(1), "x");
                continue;
            }
            CreateDirectoryW(path.c_str(), nullptr);
            if (entry[0] == L'!') {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
                EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN) << "the hidden mark did not take";
            }
        }
        wchar_t out[MAX_PATH] = {};
        if (!FindHighestVersionFolder(parent.Path().c_str(), out, MAX_PATH)) return L"(none)";
        const std::wstring found(out);
        const std::wstring prefix = parent.Path() + L"\\";
        EXPECT_EQ(found.compare(0, prefix.size(), prefix), 0) << found.c_str();
        return found.substr(prefix.size());
    }
};

TEST_F(VersionFolderTest, HighestFourNumberPlainFolderWins) {
    struct Case {
        std::vector<std::wstring> entries;
        std::wstring expected;
    };
    const Case cases[] = {
        {{L"12,1,154,0", L"12,2,0,0"}, L"12,2,0,0"},
        {{L"12,2,0,0", L"12,1,154,0"}, L"12,2,0,0"},
        {{L"12,1,154,0", L"12,1,154", L"13,0,0,x"}, L"12,1,154,0"},
        {{L"!13,0,0,0", L"12,0,0,0"}, L"12,0,0,0"},
        {{L"#14,0,0,0", L"9,9,9,9"}, L"9,9,9,9"},
        {{L"2,0,0,10", L"2,0,0,9"}, L"2,0,0,10"},
        {{L"12,1,154"}, L"(none)"},
        {{}, L"(none)"},
    };
    for (const Case& c : cases) EXPECT_EQ(Highest(c.entries), c.expected) << c.entries.size();
}

TEST(FindHighestVersionFolderTest, MissingArgumentsOrRoom) {
    testsupport::TempFolder parent;
    CreateDirectoryW(parent.File(L"1,2,3,4").c_str(), nullptr);
    wchar_t out[MAX_PATH] = {};
    EXPECT_FALSE(FindHighestVersionFolder(nullptr, out, MAX_PATH));
    EXPECT_FALSE(FindHighestVersionFolder(L"", out, MAX_PATH));
    EXPECT_FALSE(FindHighestVersionFolder(parent.Path().c_str(), nullptr, MAX_PATH));
    EXPECT_FALSE(FindHighestVersionFolder(parent.Path().c_str(), out, 0));
    EXPECT_FALSE(FindHighestVersionFolder(parent.Path().c_str(), out, parent.Path().size() + 4));
    EXPECT_TRUE(FindHighestVersionFolder(parent.Path().c_str(), out, MAX_PATH));
}

class PlatformFolderTest : public ::testing::Test {
protected:
    ScratchRegistry registry_;
};

TEST_F(PlatformFolderTest, RegistryTextOrCommonFilesWithTheWantedBackslash) {
    struct Case {
        const wchar_t* value;  // null: no value
        bool trailing;
        std::wstring expected;
    };
    wchar_t common[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, common)));
    const std::wstring fallback = std::wstring(common) + L"\\Torvex\\Platform";
    const Case cases[] = {
        {L"D:\\Suite\\Platform", true, L"D:\\Suite\\Platform\\"},
        {L"D:\\Suite\\Platform\\", true, L"D:\\Suite\\Platform\\"},
        {L"D:\\Suite\\Platform\\", false, L"D:\\Suite\\Platform"},
        {L"D:\\Suite\\Platform\\\\", false, L"D:\\Suite\\Platform\\"},
        {L"\"D:\\Suite\\Platform", false, L"D:\\Suite\\Platform"},
        {L"", true, fallback + L"\\"},
        {nullptr, false, fallback},
    };
    for (const Case& c : cases) {
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kKVRKey, RegView::Wow64);
        if (c.value) registry_.SetString(HKEY_LOCAL_MACHINE, kKVRKey, L"CommonFiles Dir", c.value, RegView::Wow64);
        wchar_t out[MAX_PATH] = {};
        EXPECT_EQ(GetPlatformFolder(out, MAX_PATH, c.trailing), 0u) << (c.value ? c.value : L"(none)");
        EXPECT_EQ(std::wstring(out), c.expected) << (c.value ? c.value : L"(none)");
    }
}

TEST_F(PlatformFolderTest, NoBufferOrNoRoom) {
    registry_.SetString(HKEY_LOCAL_MACHINE, kKVRKey, L"CommonFiles Dir", L"D:\\Suite\\Platform", RegView::Wow64);
    wchar_t out[8] = L"keep";
    EXPECT_EQ(GetPlatformFolder(nullptr, 8, true), 87u);
    EXPECT_EQ(GetPlatformFolder(out, 0, true), 87u);
    EXPECT_STREQ(out, L"keep");
    EXPECT_EQ(GetPlatformFolder(out, 8, true), 122u);
    EXPECT_STREQ(out, L"");
}

}  // namespace

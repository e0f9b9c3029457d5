#include "foundation/basalt/FileHelpers.h"

#include <gtest/gtest.h>

#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

using testsupport::TempFolder;

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Runs the body with the current folder set to `folder`, then puts the old one back.
class CurrentFolderScope {
public:
    explicit CurrentFolderScope(const std::wstring& folder) : saved_(Basalt::GetCurrentFolder()) {
        EXPECT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    }
    ~CurrentFolderScope() { SetCurrentDirectoryW(saved_.c_str()); }

private:
    std::wstring saved_;
};

TEST(FileKindTest, AnswersByWhatThePathNames) {
    TempFolder temp;
    const std::wstring file = temp.Write(L"a.txt", "x");
    const std::wstring missing = temp.File(L"missing.txt");
    struct Case {
        const wchar_t* path;
        bool fileExists, isDirectory, isRegular;
    } cases[] = {
        {file.c_str(), true, false, true},
        {temp.Path().c_str(), false, true, false},
        {missing.c_str(), false, false, false},
        {L"", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "path " << c.path);
        EXPECT_EQ(c.fileExists, Basalt::FileExists(c.path));
        EXPECT_EQ(c.isDirectory, Basalt::IsDirectory(c.path));
        EXPECT_EQ(c.isRegular, Basalt::IsRegularFile(c.path));
    }
    EXPECT_FALSE(Basalt::FileExists(nullptr));
    EXPECT_FALSE(Basalt::IsDirectory(nullptr));
}

TEST(SplitPathTest, SplitsAtTheLastBackslash) {
    struct Case {
        const wchar_t* path;
        bool keep;
        bool result;
        const wchar_t* folder;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\a\\b\\welkin.exe", false, true, L"C:\\a\\b", L"welkin.exe"},
        {L"C:\\a\\b\\welkin.exe", true, true, L"C:\\a\\b\\", L"welkin.exe"},
        {L"C:\\a\\", false, true, L"C:\\a", L""},
        {L"welkin.exe", false, false, L"unchanged", L"unchanged"},
        {L"C:/a/welkin.exe", false, false, L"unchanged", L"unchanged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "path " << c.path);
        std::wstring folder = L"unchanged", name = L"unchanged";
        EXPECT_EQ(c.result, Basalt::SplitPath(c.path, folder, c.keep, name));
        EXPECT_EQ(c.folder, folder);
        EXPECT_EQ(c.name, name);
    }
}

TEST(CurrentFolderTest, FollowsSetCurrentDirectory) {
    TempFolder temp;
    CurrentFolderScope scope(temp.Path());
    wchar_t expected[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, expected);
    EXPECT_EQ(expected, Basalt::GetCurrentFolder());
}

TEST(CreateFolderPathTest, CreatesMissingParentsAndReportsExisting) {
    TempFolder temp;
    const std::wstring deep = temp.File(L"one\\two\\three");
    DWORD error = 1;
    EXPECT_TRUE(Basalt::CreateFolderPath(deep.c_str(), &error));
    EXPECT_EQ(0u, error);
    EXPECT_TRUE(Basalt::IsDirectory(deep.c_str()));

    EXPECT_TRUE(Basalt::CreateFolderPath(deep.c_str(), &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), error);

    const std::wstring prefixed = L"\\\\?\\" + temp.File(L"long\\form");
    EXPECT_TRUE(Basalt::CreateFolderPath(prefixed.c_str(), nullptr));
    EXPECT_TRUE(Basalt::IsDirectory(temp.File(L"long\\form").c_str()));

    EXPECT_FALSE(Basalt::CreateFolderPath(nullptr, &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
    EXPECT_FALSE(Basalt::CreateFolderPath(L"", &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);

    // A file where the folder or one of its parents should be is no folder: 183 comes back with false, in either
    // form of the path.
    temp.Write(L"blocker", "x");
    for (const std::wstring& path : {temp.File(L"blocker"), L"\\\\?\\" + temp.File(L"blocker"),
                                     temp.File(L"blocker\\below")}) {
        EXPECT_FALSE(Basalt::CreateFolderPath(path.c_str(), &error));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), error);
        EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), Basalt::CreateFolderRecursive(path));
    }
}

TEST(CreateFolderPathTest, RelativePathsAreAnchoredOnTheCurrentFolderOrItsDrive) {
    TempFolder temp;
    CurrentFolderScope scope(temp.Path());
    const std::wstring current = Basalt::GetCurrentFolder();
    const std::wstring drive = current.substr(0, 2);
    const std::wstring unique = L"wt_anchor_" + std::to_wstring(GetCurrentProcessId());

    EXPECT_TRUE(Basalt::CreateFolderPath(unique.c_str(), nullptr));
    EXPECT_TRUE(Basalt::IsDirectory((current + L"\\" + unique).c_str()));

    // With a backslash but no drive, the path starts at the drive's root, not at the current folder.
    const std::wstring relative = unique + L"\\inner";
    EXPECT_TRUE(Basalt::CreateFolderPath(relative.c_str(), nullptr));
    EXPECT_TRUE(Basalt::IsDirectory((drive + L"\\" + relative).c_str()));
    EXPECT_FALSE(Basalt::IsDirectory((current + L"\\" + relative).c_str()));

    const std::wstring rooted = L"\\" + unique + L"\\rooted";
    EXPECT_TRUE(Basalt::CreateFolderPath(rooted.c_str(), nullptr));
    EXPECT_TRUE(Basalt::IsDirectory((drive + rooted).c_str()));

    EXPECT_TRUE(Basalt::RemoveFolderTree((drive + L"\\" + unique).c_str()));
}

TEST(CreateFolderPathTest, ShareNameIsNotPutOnTheCurrentDrive) {
    TempFolder temp;
    CurrentFolderScope scope(temp.Path());
    const std::wstring drive = Basalt::GetCurrentFolder().substr(0, 2);
    const std::wstring server = L"wt_noserver_" + std::to_wstring(GetCurrentProcessId());
    DWORD error = 0;
    EXPECT_FALSE(Basalt::CreateFolderPath((L"\\\\" + server + L"\\share\\x").c_str(), &error));
    EXPECT_NE(0u, error);
    EXPECT_FALSE(Exists(drive + L"\\" + server));
}

TEST(CreateFolderRecursiveTest, PathWithoutBackslashCreatesNothing) {
    TempFolder temp;
    CurrentFolderScope scope(temp.Path());
    EXPECT_EQ(0u, Basalt::CreateFolderRecursive(L"plainname"));
    EXPECT_FALSE(Exists(temp.File(L"plainname")));
}

TEST(RemoveFolderTreeTest, RemovesNestedFoldersAndReadOnlyFiles) {
    TempFolder temp;
    const std::wstring root = temp.File(L"tree");
    temp.Write(L"tree\\a.txt", "a");
    temp.Write(L"tree\\noextension", "b");
    const std::wstring readOnly = temp.Write(L"tree\\sub\\deeper\\ro.txt", "c");
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW(temp.File(L"tree\\sub").c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_TRUE(Basalt::RemoveFolderTree(root.c_str()));
    EXPECT_FALSE(Exists(root));
}

TEST(RemoveFolderTreeTest, RefusesWhatIsNotAFolder) {
    TempFolder temp;
    const std::wstring file = temp.Write(L"f.txt", "x");
    for (const wchar_t* path : {L"", L".", L"..", file.c_str(), L"C:\\wt_no_such_folder_at_all"}) {
        SCOPED_TRACE(testing::Message() << "path " << path);
        EXPECT_FALSE(Basalt::RemoveFolderTree(path));
    }
    EXPECT_FALSE(Basalt::RemoveFolderTree(nullptr));
    EXPECT_TRUE(Exists(file));
}

TEST(DeleteMatchingFilesTest, WithoutRecurseLeavesFoldersAndSucceeds) {
    TempFolder temp;
    temp.Write(L"d\\one.log", "1");
    temp.Write(L"d\\two.log", "2");
    temp.Write(L"d\\keep.txt", "3");
    temp.Write(L"d\\sub\\inner.log", "4");

    EXPECT_TRUE(Basalt::DeleteMatchingFiles(temp.File(L"d\\*.log").c_str(), false));
    EXPECT_FALSE(Exists(temp.File(L"d\\one.log")));
    EXPECT_FALSE(Exists(temp.File(L"d\\two.log")));
    EXPECT_TRUE(Exists(temp.File(L"d\\keep.txt")));

    EXPECT_TRUE(Basalt::DeleteMatchingFiles(temp.File(L"d\\*").c_str(), false));
    EXPECT_FALSE(Exists(temp.File(L"d\\keep.txt")));
    EXPECT_TRUE(Exists(temp.File(L"d\\sub\\inner.log")));

    EXPECT_TRUE(Basalt::DeleteMatchingFiles(temp.File(L"d\\*").c_str(), true));
    EXPECT_FALSE(Exists(temp.File(L"d\\sub")));
}

TEST(DeleteMatchingFilesTest, RefusesPatternsWithoutAFolderOrWithoutMatches) {
    TempFolder temp;
    CurrentFolderScope scope(temp.Path());
    temp.Write(L"x.log", "1");
    const std::wstring trailing = temp.Path() + L"\\";
    const std::wstring nothing = temp.File(L"*.none");
    for (const wchar_t* pattern : {L"", L".", L"..", L"x.log", trailing.c_str(), nothing.c_str()}) {
        SCOPED_TRACE(testing::Message() << "pattern " << pattern);
        EXPECT_FALSE(Basalt::DeleteMatchingFiles(pattern, true));
    }
    EXPECT_FALSE(Basalt::DeleteMatchingFiles(nullptr, false));
    EXPECT_TRUE(Exists(temp.File(L"x.log")));
}

// Every spelling of a root, judged without deleting anything.
TEST(IsDriveOrShareRootTest, KnowsRootsHoweverTheyAreSpelled) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"C:\\", true},
        {L"c:\\", true},
        {L"C:\\\\", true},
        {L"\\\\?\\C:\\", true},
        {L"C:\\x\\..", true},
        {L"C:\\x\\..\\", true},
        {L"\\", true},  // the current drive's root
        {L"\\\\server\\share", true},
        {L"\\\\server\\share\\", true},
        {L"\\\\server", true},
        {L"\\\\?\\UNC\\server\\share", true},
        {L"C:\\x", false},
        {L"\\\\?\\C:\\x", false},
        {L"\\\\server\\share\\x", false},
        {L"C:\\x\\y\\..", false},
    };
    for (const auto& [path, root] : cases) EXPECT_EQ(root, Basalt::IsDriveOrShareRoot(path)) << path;
}

// A recursive delete whose folder part is a drive root is refused however the root is spelled; the pattern only
// matches a folder of this test, so a regression removes nothing else. The deletes are never pointed at a real
// root itself: a regression there would wipe the drive and every host folder linked into it.
TEST(DeleteMatchingFilesTest, RecursiveDeleteRefusesADriveRoot) {
    const std::wstring name = L"wt_root_guard_" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW((L"C:\\" + name).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((L"C:\\" + name + L"\\sub").c_str(), nullptr));
    for (const std::wstring& pattern : {L"C:\\" + name, L"\\\\?\\C:\\" + name, L"C:\\" + name + L"\\..\\" + name}) {
        SCOPED_TRACE(testing::Message() << "pattern " << pattern);
        EXPECT_FALSE(Basalt::DeleteMatchingFiles(pattern.c_str(), true));
        EXPECT_TRUE(Exists(L"C:\\" + name + L"\\sub"));
    }
    // Without recurse a root folder part is fine: the folder found is left alone.
    EXPECT_TRUE(Basalt::DeleteMatchingFiles((L"C:\\" + name).c_str(), false));
    EXPECT_TRUE(Exists(L"C:\\" + name + L"\\sub"));
    EXPECT_TRUE(Basalt::RemoveFolderTree((L"C:\\" + name).c_str()));
}

// tree\link points at outside\ (a folder link made by the test set-up): removing tree must not empty outside.
TEST(RemoveFolderTreeTest, NeverDescendsIntoAFolderLink) {
    const std::wstring fixture = testsupport::WindowsPathOf(BASALT_LINK_FIXTURE);
    const std::wstring link = fixture + L"\\tree\\link";
    const std::wstring kept = fixture + L"\\outside\\keep.txt";
    ASSERT_TRUE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)
        << "the link fixture is made by the CTest set-up test";
    ASSERT_TRUE(Exists(kept));
    HANDLE own = CreateFileW((fixture + L"\\tree\\own.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                             nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, own);
    CloseHandle(own);

    Basalt::RemoveFolderTree(link.c_str());
    EXPECT_TRUE(Exists(kept));
    Basalt::DeleteMatchingFiles((fixture + L"\\tree\\*").c_str(), true);
    EXPECT_TRUE(Exists(kept));
    EXPECT_FALSE(Exists(fixture + L"\\tree\\own.txt"));
    Basalt::RemoveFolderTree((fixture + L"\\tree").c_str());
    EXPECT_TRUE(Exists(kept));
}

}  // namespace

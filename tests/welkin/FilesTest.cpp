// welkin's file helpers: path kinds, deletion now or at the next restart, the KVR install folder and its sources.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"
#include "welkin/WelkinFiles.h"

namespace {

using testsupport::RegView;
using testsupport::ScratchRegistry;
using testsupport::TempFolder;

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The pending rename list as (source, target) pairs, without the "\??\" prefixes.
std::vector<std::pair<std::wstring, std::wstring>> PendingRenames() {
    DWORD type = 0;
    std::vector<BYTE> data;
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    if (!ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, type, data)) return pairs;
    std::vector<std::wstring> strings;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
    const size_t count = data.size() / sizeof(wchar_t);
    for (size_t i = 0; i < count;) {
        std::wstring s(text + i);
        i += s.size() + 1;
        if (s.rfind(L"\\??\\", 0) == 0) s = s.substr(4);
        strings.push_back(s);
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) pairs.emplace_back(strings[i], strings[i + 1]);
    return pairs;
}

bool IsPending(const std::wstring& source, const std::wstring& target) {
    for (const auto& pair : PendingRenames()) {
        const std::wstring to = !pair.second.empty() && pair.second[0] == L'!' ? pair.second.substr(1) : pair.second;
        if (_wcsicmp(pair.first.c_str(), source.c_str()) == 0 && _wcsicmp(to.c_str(), target.c_str()) == 0)
            return true;
    }
    return false;
}

// Restart-time operations would act at the next start of this prefix: none may outlive a test.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override { ClearPending(); }
    void TearDown() override { ClearPending(); }
    static void ClearPending() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        RegDeleteValueW(key, kPendingRenames);
        RegCloseKey(key);
    }

    TempFolder folder_;
};

TEST_F(FilesTest, PathKindsAndFileExistsAnswerWithCodes) {
    const std::wstring file = folder_.Write(L"a.txt", "x");
    const std::wstring missing = folder_.File(L"missing.txt");
    struct Case {
        const wchar_t* path;
        bool wantDirectory;
        DWORD kind;
        DWORD exists;
    } cases[] = {
        {file.c_str(), false, 0, 0},
        {file.c_str(), true, 3, 0},
        {folder_.Path().c_str(), true, 0, 0x80004005},
        {folder_.Path().c_str(), false, 2, 0x80004005},
        {missing.c_str(), false, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {nullptr, false, 87, 87},
    };
    for (const Case& c : cases) {
        const std::wstring shown = c.path ? c.path : L"(null)";
        EXPECT_EQ(c.kind, CheckPathType(c.path, c.wantDirectory)) << shown << " " << c.wantDirectory;
        EXPECT_EQ(c.exists, FileExists(c.path)) << shown;
    }
}

TEST_F(FilesTest, DeleteFileOrDeferSchedulesTheSourceOrItsReplacementOfTheTarget) {
    EXPECT_EQ(87u, DeleteFileOrDefer(nullptr, nullptr, true));
    EXPECT_EQ(87u, DeleteFileOrDefer(L"", nullptr, true));

    const std::wstring source = folder_.Write(L"old.dll", "old");
    ASSERT_EQ(0u, DeleteFileOrDefer(source.c_str(), nullptr, false));
    EXPECT_TRUE(Exists(source));
    EXPECT_TRUE(IsPending(source, L""));

    for (bool move : {false, true}) {
        ClearPending();
        const std::wstring fresh = folder_.Write(L"fresh.dll", "new");
        const std::wstring target = folder_.Write(L"in\\use.dll", "in use");
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
        ASSERT_EQ(0u, DeleteFileOrDefer(fresh.c_str(), target.c_str(), move)) << move;
        EXPECT_EQ(!move, Exists(fresh)) << move;
        EXPECT_FALSE(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_READONLY);
        EXPECT_TRUE(IsPending(target, L"")) << move;
        // The new content waits beside the target under a temporary name until the restart.
        const auto pending = PendingRenames();
        ASSERT_EQ(2u, pending.size());
        const std::wstring temporary = pending[1].first;
        EXPECT_NE(std::wstring::npos, temporary.find(L"\\in\\qzi")) << temporary;  // three prefix letters count
        EXPECT_EQ("new", TempFolder::ReadAll(temporary));
        EXPECT_TRUE(IsPending(temporary, target));
        DeleteFileW(temporary.c_str());
    }
}

TEST_F(FilesTest, TreeDeletionSkipsDotFoldersAndDefersALockedFile) {
    folder_.Write(L"tree\\plain.txt", "1");
    const std::wstring readOnly = folder_.Write(L"tree\\readonly.txt", "2");
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    folder_.Write(L"tree\\sub\\deep\\file.txt", "3");
    const std::wstring dotFolder = folder_.Write(L"tree\\.keep\\kept.txt", "4");
    const std::wstring locked = folder_.Write(L"tree\\sub\\locked.txt", "5");
    HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);

    const std::wstring tree = folder_.File(L"tree");
    // Without recurse the folders stay.
    EXPECT_TRUE(DeleteDirectoryTree((tree + L"\\*.*").c_str(), false));
    EXPECT_FALSE(Exists(readOnly));
    EXPECT_TRUE(Exists(tree + L"\\sub\\deep\\file.txt"));

    EXPECT_TRUE(DeleteDirectoryTree((tree + L"\\*.*").c_str(), true));
    EXPECT_FALSE(Exists(tree + L"\\sub\\deep"));
    EXPECT_TRUE(Exists(locked));
    EXPECT_TRUE(IsPending(locked, L""));
    EXPECT_TRUE(Exists(dotFolder));
    CloseHandle(lock);

    for (const wchar_t* bad : {L"", L"a\\*", L"*.*"}) EXPECT_FALSE(DeleteDirectoryTree(bad, true)) << bad;
}

// A path cut to 260 characters would name another entry (or none, and the miss would count as done).
TEST_F(FilesTest, TreeDeletionReportsAnEntryWhosePathIsTooLong) {
    const std::wstring tree = folder_.File(L"long");
    ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
    const std::wstring longPath = tree + L"\\" + std::wstring(270 - tree.size(), L'n');
    const std::wstring extended = L"\\\\?\\" + longPath;
    HANDLE file = CreateFileW(extended.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    const std::wstring other = folder_.Write(L"long\\short.txt", "x");

    EXPECT_FALSE(DeleteDirectoryTree((tree + L"\\*.*").c_str(), false));
    EXPECT_TRUE(Exists(extended));
    EXPECT_FALSE(Exists(other));
    DeleteFileW(extended.c_str());
}

TEST_F(FilesTest, RemoveDirectoryForceRemovesAFolderAndRefusesADriveRoot) {
    folder_.Write(L"gone\\sub\\file.txt", "x");
    const std::wstring gone = folder_.File(L"gone");
    EXPECT_TRUE(RemoveDirectoryForce(gone.c_str(), true));
    EXPECT_FALSE(Exists(gone));

    // A folder at the root of C: shows whether the root's contents were touched.
    const std::wstring atRoot = L"C:\\welkin-files-test";
    ASSERT_TRUE(CreateDirectoryW(atRoot.c_str(), nullptr));
    for (const wchar_t* root : {L"C:\\", L"C:", L"C"}) EXPECT_FALSE(RemoveDirectoryForce(root, true)) << root;
    EXPECT_TRUE(Exists(atRoot));
    RemoveDirectoryW(atRoot.c_str());
}

// tree\link points at outside\ (a folder link made by the test set-up): removing tree must not empty outside.
TEST_F(FilesTest, TreeDeletionNeverEntersAFolderLink) {
    const std::wstring fixture = testsupport::WindowsPathOf(WELKIN_LINK_FIXTURE);
    const std::wstring link = fixture + L"\\tree\\link";
    const std::wstring kept = fixture + L"\\outside\\keep.txt";
    ASSERT_TRUE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)
        << "the link fixture is made by the CTest set-up test";
    ASSERT_TRUE(Exists(kept));
    RemoveDirectoryForce((fixture + L"\\tree").c_str(), true);
    EXPECT_TRUE(Exists(kept));
}

TEST(CopyToBufferTest, CopiesOnlyWhatFitsWithItsTerminator) {
    wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(3u, CopyToBuffer(L"abc", buffer, 4));
    EXPECT_STREQ(L"abc", buffer);
    EXPECT_EQ(0u, CopyToBuffer(L"abcd", buffer, 4));
    EXPECT_STREQ(L"", buffer);
}

TEST(WideToMultiByteAllocTest, ConvertsInTheCodePage) {
    EXPECT_EQ(nullptr, WideToMultiByteAlloc(nullptr, CP_UTF8));
    EXPECT_EQ(nullptr, WideToMultiByteAlloc(L"", CP_UTF8));
    const auto utf8 = WideToMultiByteAlloc(L"Gr\u00fc\u00dfe", CP_UTF8);
    ASSERT_NE(nullptr, utf8);
    EXPECT_STREQ("Gr\xc3\xbc\xc3\x9f" "e", utf8.get());
}

constexpr wchar_t kKVRKey[] = L"SOFTWARE\\Torvex\\KVR";
constexpr wchar_t kClassKey[] = L"CLSID\\{7323885B-407F-4839-9695-96F545FF6286}";

// Each source of the install folder in turn, with and without a trailing backslash.
class KVRInstallDirTest : public ::testing::Test {
protected:
    void TearDown() override {
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kKVRKey, RegView::Wow64);
        for (RegView view : {RegView::Default, RegView::Wow32, RegView::Wow64})
            ScratchRegistry::Wipe(HKEY_CLASSES_ROOT, kClassKey, view);
    }
    static std::wstring Get(bool trailing, DWORD expected = 0) {
        wchar_t buffer[1300] = {};
        EXPECT_EQ(expected, GetKVRInstallDir(buffer, 1300, trailing));
        return buffer;
    }
    ScratchRegistry registry_;
};

TEST_F(KVRInstallDirTest, EverySourceEndsAsAsked) {
    wchar_t programFiles[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles)));
    const std::wstring fallback = std::wstring(programFiles) + L"\\Torvex\\KVR";
    EXPECT_EQ(fallback + L"\\", Get(true));
    EXPECT_EQ(fallback, Get(false));

    // A server registered for the class (in the 32-bit view only, quoted): its folder.
    registry_.SetString(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\LocalServer32", nullptr,
                        L"\"C:\\Srv\\Bin\\kvr.exe\"", RegView::Wow32);
    EXPECT_EQ(L"C:\\Srv\\Bin\\", Get(true));
    EXPECT_EQ(L"C:\\Srv\\Bin", Get(false));

    for (const wchar_t* installDir : {L"D:\\KVR", L"D:\\KVR\\"}) {
        registry_.SetString(HKEY_LOCAL_MACHINE, kKVRKey, L"Install Dir", installDir, RegView::Wow64);
        EXPECT_EQ(L"D:\\KVR\\", Get(true)) << installDir;
        EXPECT_EQ(L"D:\\KVR", Get(false)) << installDir;
    }
    // An empty value does not count; a value of another type neither.
    registry_.SetString(HKEY_LOCAL_MACHINE, kKVRKey, L"Install Dir", L"", RegView::Wow64);
    EXPECT_EQ(L"C:\\Srv\\Bin", Get(false));
    registry_.SetDword(HKEY_LOCAL_MACHINE, kKVRKey, L"Install Dir", 5, RegView::Wow64);
    EXPECT_EQ(L"C:\\Srv\\Bin", Get(false));
}

TEST_F(KVRInstallDirTest, BadArgumentsAndATooSmallBuffer) {
    wchar_t buffer[8] = {L'x'};
    EXPECT_EQ(87u, GetKVRInstallDir(nullptr, 8, true));
    EXPECT_EQ(87u, GetKVRInstallDir(buffer, 0, true));
    registry_.SetString(HKEY_LOCAL_MACHINE, kKVRKey, L"Install Dir", L"D:\\Long\\Folder", RegView::Wow64);
    EXPECT_EQ(122u, GetKVRInstallDir(buffer, 8, true));
    EXPECT_STREQ(L"", buffer);
}

TEST_F(KVRInstallDirTest, ClassServerPathsPreferTheInProcessServer) {
    const std::wstring noBraces = L"7323885B-407F-4839-9695-96F545FF6286";
    wchar_t buffer[MAX_PATH] = {};
    EXPECT_FALSE(ModulePathFromCLSID(noBraces.c_str(), buffer, MAX_PATH));
    registry_.SetString(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\LocalServer32", nullptr, L"C:\\local.exe");
    EXPECT_TRUE(ModulePathFromCLSID(noBraces.c_str(), buffer, MAX_PATH));
    EXPECT_STREQ(L"C:\\local.exe", buffer);
    registry_.SetString(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", nullptr,
                        L"\"C:\\in proc.dll\"");
    EXPECT_TRUE(ModulePathFromCLSID(noBraces.c_str(), buffer, MAX_PATH));
    EXPECT_STREQ(L"C:\\in proc.dll", buffer);
    // Two characters are not a quoted path.
    registry_.SetString(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", nullptr, L"\"\"");
    EXPECT_TRUE(ModulePathFromCLSID(L"{7323885B-407F-4839-9695-96F545FF6286}", buffer, MAX_PATH));
    EXPECT_STREQ(L"\"\"", buffer);
}

}  // namespace

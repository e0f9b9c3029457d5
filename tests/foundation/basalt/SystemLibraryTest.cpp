// Loading from the System folder only, and the process-wide restriction of the library search to it. The probe
// library tells whether its entry point ran; its copies in the System folder and in a test folder are the test's own.
#include "foundation/basalt/SystemLibrary.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

namespace {

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

// A copy of the probe library under a name of its own, removed again afterwards.
class ProbeCopy {
public:
    ProbeCopy(const std::wstring& folder, const std::wstring& name) : path_(folder + L"\\" + name) {
        EXPECT_TRUE(CopyFileW(testsupport::WindowsPathOf(ATTACH_PROBE_DLL).c_str(), path_.c_str(), FALSE))
            << GetLastError();
    }
    ~ProbeCopy() { DeleteFileW(path_.c_str()); }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

bool EntryPointRan(HMODULE module) { return *reinterpret_cast<int*>(GetProcAddress(module, "attached")) != 0; }

std::wstring PathOf(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// The altered-search flag (8) is taken out; every other flag is passed on: 9 loads as 1, without running the
// entry point, and 8 beside a search flag (which the loader refuses together) loads as that search flag alone.
TEST(LoadSystemLibraryEx, LoadsFromTheSystemFolderWithoutTheAlteredSearchFlag) {
    struct Case {
        const wchar_t* name;
        DWORD flags;
        bool entryPointRuns;
    };
    const Case cases[] = {{L"wt_probe_plain.dll", 0, true},
                          {L"wt_probe_flags9.dll", LOAD_WITH_ALTERED_SEARCH_PATH | DONT_RESOLVE_DLL_REFERENCES, false},
                          {L"wt_probe_search.dll", LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_SYSTEM32, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags);
        ProbeCopy copy(SystemFolder(), c.name);
        HMODULE module = LoadSystemLibraryEx(c.name, nullptr, c.flags);
        ASSERT_NE(nullptr, module) << GetLastError();
        EXPECT_EQ(c.entryPointRuns, EntryPointRan(module));
        EXPECT_EQ(0, _wcsicmp(copy.Path().c_str(), PathOf(module).c_str())) << PathOf(module);
        FreeLibrary(module);
    }
}

TEST(LoadSystemLibraryEx, NothingOutsideTheSystemFolderIsLoaded) {
    testsupport::TempFolder folder;
    ProbeCopy elsewhere(folder.Path(), L"wt_probe_elsewhere.dll");
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.Path().c_str()));
    EXPECT_EQ(nullptr, LoadSystemLibraryEx(L"wt_probe_elsewhere.dll", nullptr, 0));
    EXPECT_EQ(nullptr, LoadSystemLibrary(L"wt_probe_elsewhere.dll"));
    EXPECT_EQ(nullptr, LoadSystemLibraryEx(nullptr, nullptr, 0));
    SetCurrentDirectoryW(saved);
}

// Process-wide and for good, so it runs last: a library by bare name then comes from the System folder only.
TEST(EnableSafeDllSearch, LibrariesByNameComeFromTheSystemFolderOnly) {
    testsupport::TempFolder folder;
    ProbeCopy current(folder.Path(), L"wt_probe_current.dll");
    ProbeCopy system(SystemFolder(), L"wt_probe_system.dll");
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.Path().c_str()));

    HMODULE before = LoadLibraryW(L"wt_probe_current.dll");
    ASSERT_NE(nullptr, before) << "the current folder is searched before the restriction";
    FreeLibrary(before);

    EXPECT_TRUE(EnableSafeDllSearch());
    EXPECT_EQ(nullptr, LoadLibraryW(L"wt_probe_current.dll"));
    HMODULE fromSystem = LoadLibraryW(L"wt_probe_system.dll");
    EXPECT_NE(nullptr, fromSystem);
    if (fromSystem) FreeLibrary(fromSystem);
    SetCurrentDirectoryW(saved);
}

}  // namespace

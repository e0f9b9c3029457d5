// Path macros, the folder search, the registry and text-file wrappers.
#include <gtest/gtest.h>

#include <memory>

#include "clients/support/PathAPI.h"
#include "clients/support/PathHelpers.h"
#include "clients/support/PathSearch.h"
#include "clients/support/RegistryAPI.h"
#include "tests/clients/support/SupportFakes.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"

namespace {

using orvantest::FixedOSInfo;
using orvantest::FixedRegistry;
using orvantest::FixedShell;
using orvantest::ListedFiles;

constexpr wchar_t kFenwk[] = L"SOFTWARE\\TORVEX\\FENWK";

struct ImageParts {
    std::wstring folder, name, extension;  // folder with its drive and trailing backslash
};
ImageParts OwnImage() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full = path;
    const size_t slash = full.find_last_of(L'\\');
    const size_t dot = full.find_last_of(L'.');
    return {full.substr(0, slash + 1), full.substr(slash + 1, dot - slash - 1), full.substr(dot)};
}

struct Machine {
    std::shared_ptr<FixedShell> shell = std::make_shared<FixedShell>();
    std::shared_ptr<FixedRegistry> registry = std::make_shared<FixedRegistry>();
    std::wstring Expand(const std::wstring& text, DWORD platform = 1, bool wow64 = false) {
        Orvan::PathHelpers helpers(shell, std::make_shared<FixedOSInfo>(platform, wow64), registry);
        std::wstring out = text;
        EXPECT_TRUE(helpers.expand(out));
        return out;
    }
};

TEST(PathHelpersTest, ProgramPathMacrosComeFromTheImagePath) {
    Machine machine;
    const ImageParts image = OwnImage();
    EXPECT_EQ(image.folder, machine.Expand(L"$(App.Folder)"));
    EXPECT_EQ(L'\\', machine.Expand(L"$(App.Folder)").back());
    EXPECT_EQ(image.name + image.extension, machine.Expand(L"$(App.Binary)"));
    EXPECT_EQ(image.name, machine.Expand(L"$(App.Name)"));
    EXPECT_EQ(image.folder + image.name + image.extension, machine.Expand(L"$(App.Path)"));
    EXPECT_EQ(L"<" + image.name + L">-<" + image.name + L">", machine.Expand(L"<$(App.Name)>-<$(App.Name)>"));
}

TEST(PathHelpersTest, UnknownEmptyAndMalformedMacrosStayAsTheyWere) {
    Machine machine;  // no install folder, no known folders
    const wchar_t* const unchanged[] = {L"$(Nothing)\\x", L"$(Fenwick.InstallDir)\\Corlune.dll",
                                        L"$(FOLDERID_Profile)", L"$(a$b)", L"$(app.folder)", L"$()", L"plain"};
    for (const wchar_t* text : unchanged) EXPECT_EQ(text, machine.Expand(text));
}

TEST(PathHelpersTest, PlatformWordFollowsThePlatformCode) {
    Machine machine;
    const struct {
        DWORD code;
        const wchar_t* expanded;
    } cases[] = {{0, L"a\\win32"}, {1, L"a\\x64"}, {2, L"a\\PlatformUnknown"}, {3, L"a\\$(OS.Platform)"}};
    for (const auto& c : cases) EXPECT_EQ(c.expanded, machine.Expand(L"a\\$(OS.Platform)", c.code)) << c.code;
}

TEST(PathHelpersTest, InstallFolderIsReadFromTheValueOfTheProcessKind) {
    Machine machine;
    machine.registry->strings[std::wstring(kFenwk) + L"|Install Dir"] = L"C:\\Fen64";
    machine.registry->strings[std::wstring(kFenwk) + L"|Install Dir32"] = L"C:\\Fen32";
    EXPECT_EQ(L"C:\\Fen64\\bus", machine.Expand(L"$(Fenwick.InstallDir)\\bus", 1, false));
    EXPECT_EQ(L"C:\\Fen32\\bus", machine.Expand(L"$(Fenwick.InstallDir)\\bus", 1, true));
}

TEST(PathHelpersTest, KnownFoldersComeFromTheShell) {
    Machine machine;
    machine.shell->folders = {{FOLDERID_ProgramFilesCommon, L"C:\\Common"}, {FOLDERID_LocalAppDataLow, L"C:\\Low"}};
    EXPECT_EQ(L"C:\\Common\\Torvex|C:\\Low|$(FOLDERID_LocalAppData)",
              machine.Expand(L"$(FOLDERID_ProgramFilesCommon)\\Torvex|$(FOLDERID_LocalAppDataLow)|$(FOLDERID_LocalAppData)"));
}

TEST(PathSearchTest, FirstFolderThatHoldsTheFileWinsWithoutItsTrailingBackslash) {
    auto files = std::make_shared<ListedFiles>(std::set<std::wstring>{L"C:\\b\\\\x.dll", L"C:\\c\\x.dll"});
    Orvan::PathSearch search(files);
    search.addSearchPaths({L"C:\\a", L"C:\\b\\"});
    search.addSearchPath(L"C:\\c");
    std::wstring folder;
    ASSERT_TRUE(search.findFilePath(L"x.dll", folder));
    EXPECT_EQ(L"C:\\b", folder);
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\a\\x.dll", L"C:\\b\\\\x.dll"}), files->asked);
}

TEST(PathSearchTest, NothingFoundLeavesTheFolderAlone) {
    Orvan::PathSearch none(std::make_shared<ListedFiles>(std::set<std::wstring>{}));
    std::wstring folder = L"untouched";
    EXPECT_FALSE(none.findFilePath(L"x.dll", folder));
    none.addSearchPath(L"C:\\a");
    EXPECT_FALSE(none.findFilePath(L"x.dll", folder));
    EXPECT_EQ(L"untouched", folder);
}

TEST(PathSearchTest, OnlyAbsoluteFoldersWithoutMacrosAreSearched) {
    const struct {
        const wchar_t* folder;
        bool searched;
    } cases[] = {{L"C:\\bus", true},
                 {L"c:/bus", true},
                 {L"\\\\server\\share", true},
                 {L"\\\\?\\C:\\bus", true},
                 {L"$(Fenwick.InstallDir)", false},  // a macro without a value stays as written
                 {L"C:\\$(Nothing)", false},
                 {L"bus", false},
                 {L".", false},
                 {L"", false},
                 {L"\\Torvex\\Platform", false},  // the root of the current drive
                 {L"C:bus", false},               // the current folder of drive C
                 {L"C:", false}};
    for (const auto& c : cases) {
        // The file is there wherever the search would look.
        const std::wstring candidate = std::wstring(c.folder) + L"\\x.dll";
        auto files = std::make_shared<ListedFiles>(std::set<std::wstring>{candidate});
        Orvan::PathSearch search(files);
        search.addSearchPath(c.folder);
        std::wstring folder;
        EXPECT_EQ(c.searched, search.findFilePath(L"x.dll", folder)) << c.folder;
        EXPECT_EQ(c.searched ? std::vector<std::wstring>{candidate} : std::vector<std::wstring>{}, files->asked)
            << c.folder;
    }
}

TEST(RegistryAPITest, StringsMustFitTheReadBuffer) {
    testsupport::ScratchRegistry registry;
    const std::wstring key = L"SOFTWARE\\WelkinTests\\OrvanRegistry";
    registry.Create(HKEY_LOCAL_MACHINE, key);
    registry.SetString(HKEY_LOCAL_MACHINE, key, L"fits", std::wstring(259, L'a'));
    registry.SetString(HKEY_LOCAL_MACHINE, key, L"long", std::wstring(260, L'a'));
    registry.SetDword(HKEY_LOCAL_MACHINE, key, L"number", 42);
    Orvan::RegistryAPI api;
    std::wstring text;
    EXPECT_EQ(0u, api.readString(key, L"fits", text));
    EXPECT_EQ(259u, text.size());
    EXPECT_EQ(0x80000002u, api.readString(key, L"long", text));
    EXPECT_EQ(0x80000002u, api.readString(key, L"absent", text));
    EXPECT_EQ(0x80000002u, api.readString(key + L"\\Missing", L"fits", text));
    uint32_t number = 0;
    EXPECT_EQ(0u, api.readDWORD(key, L"number", number));
    EXPECT_EQ(42u, number);
    EXPECT_EQ(0x80000002u, api.readDWORD(key, L"fits", number));
}

TEST(PathAPITest, TextFileHoldsExactlyTheCharactersRead) {
    testsupport::TempFolder folder;
    Orvan::PathAPI api;
    std::wstring text;
    EXPECT_TRUE(api.readTextFile(folder.Write(L"crlf.txt", "one\r\ntwo\r\n"), text));
    EXPECT_EQ(L"one\ntwo\n", text);  // no trailing NULs for the carriage returns dropped
    EXPECT_TRUE(api.readTextFile(folder.Write(L"empty.txt", ""), text));
    EXPECT_EQ(L"", text);
    EXPECT_FALSE(api.readTextFile(folder.File(L"absent.txt"), text));

    ASSERT_TRUE(api.writeTextFile(folder.File(L"out.txt"), L"line"));
    EXPECT_EQ("line\r\n", testsupport::TempFolder::ReadAll(folder.File(L"out.txt")));
    EXPECT_FALSE(api.writeTextFile(folder.File(L"no\\such\\folder.txt"), L"x"));
}

}  // namespace

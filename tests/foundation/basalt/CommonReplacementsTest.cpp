// Path macros: the program path parts, the platform word, known folders through a fake shell, the caller's table,
// and the counters.
#include <windows.h>
#include <knownfolders.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "foundation/basalt/CommonReplacements.h"

namespace {

using Basalt::CommonReplacements;

// Answers known folders from a map; any other folder fails. Counts the questions.
class FakeShell : public Basalt::ShlObjAPI {
public:
    HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD, HANDLE, PWSTR* path) override {
        ++questions;
        *path = nullptr;
        for (const auto& [id, text] : folders) {
            if (!IsEqualGUID(*id, folder)) continue;
            const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
            *path = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
            std::memcpy(*path, text.c_str(), bytes);
            return S_OK;
        }
        return E_FAIL;
    }
    std::vector<std::pair<const KNOWNFOLDERID*, std::wstring>> folders;
    int questions = 0;
};

class FixedPlatform : public Basalt::internal::OSInfoProxy {
public:
    explicit FixedPlatform(DWORD code) : code_(code) {}
    DWORD getPlatformCode() override { return code_; }

private:
    DWORD code_;
};

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring Expanded(CommonReplacements& expander, std::wstring text, const CommonReplacements::Table& table = {}) {
    EXPECT_TRUE(expander.expand(text, table));
    return text;
}

TEST(CommonReplacements, ProgramPathParts) {
    const std::wstring path = ProgramPath();
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring folder = path.substr(0, slash + 1);
    const std::wstring binary = path.substr(slash + 1);
    const std::wstring name = binary.substr(0, binary.find_last_of(L'.'));
    CommonReplacements expander;
    EXPECT_EQ(Expanded(expander, L"$(App.Path)"), path);
    EXPECT_EQ(Expanded(expander, L"$(App.Folder)$(App.Binary)"), path);
    EXPECT_EQ(Expanded(expander, L"$(App.Folder)"), folder);
    EXPECT_EQ(Expanded(expander, L"[$(App.Name)]"), L"[" + name + L"]");
    EXPECT_EQ(Expanded(expander, L"$(App.Binary) in $(App.Folder)"), binary + L" in " + folder);
    EXPECT_EQ(expander.getStatistics().found, 2u);
    EXPECT_EQ(expander.getStatistics().replaced, 2u);
}

TEST(CommonReplacements, MacroShapesAndCounters) {
    struct Case {
        const wchar_t* text;
        const wchar_t* expanded;  // with $(App.Path) written as @
        std::uint64_t found, replaced;
    };
    const Case cases[] = {
        {L"no macro at all", L"no macro at all", 0, 0},
        {L"$ (App.Path) and $App.Path", L"$ (App.Path) and $App.Path", 0, 0},
        {L"$()", L"$()", 0, 0},
        {L"$(App$Path)", L"$(App$Path)", 0, 0},
        {L"$(App(Path))", L"$(App(Path))", 0, 0},
        {L"$(Not.Defined)", L"$(Not.Defined)", 1, 0},
        {L"$(app.path)", L"$(app.path)", 1, 0},  // names are matched exactly
        {L"$$(App.Path))", L"$@)", 1, 1},
        {L"$(Not.Defined)$(App.Path)", L"$(Not.Defined)@", 2, 1},
        {L"$($(App.Path))", L"$(@)", 1, 1},
    };
    const std::wstring path = ProgramPath();
    CommonReplacements expander;
    for (const Case& c : cases) {
        std::wstring expected = c.expanded;
        if (const size_t at = expected.find(L'@'); at != std::wstring::npos) expected.replace(at, 1, path);
        EXPECT_EQ(Expanded(expander, c.text), expected) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(expander.getStatistics().found, c.found) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(expander.getStatistics().replaced, c.replaced) << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(CommonReplacements, CallersTableComesFirstAndIsNeverExpandedAgain) {
    CommonReplacements expander;
    const CommonReplacements::Table table = {
        {L"$(App.Path)", [] { return std::wstring(L"own path"); }},
        {L"$(Loop)", [] { return std::wstring(L"$(App.Folder)"); }},
        {L"$(Empty)", [] { return std::wstring(); }},
        {L"$(Itself)", [] { return std::wstring(L"$(Itself)"); }},
    };
    EXPECT_EQ(Expanded(expander, L"$(App.Path)|$(Loop)", table), L"own path|$(App.Folder)");
    EXPECT_EQ(expander.getStatistics().replaced, 2u);
    // An empty value, or one equal to the macro, leaves the macro and counts it as found only.
    EXPECT_EQ(Expanded(expander, L"$(Empty)$(Itself)", table), L"$(Empty)$(Itself)");
    EXPECT_EQ(expander.getStatistics().found, 2u);
    EXPECT_EQ(expander.getStatistics().replaced, 0u);
}

TEST(CommonReplacements, KnownFoldersAreAskedAtEveryExpansion) {
    auto shell = std::make_shared<FakeShell>();
    shell->folders = {{&FOLDERID_Profile, L"C:\\users\\tester"},
                      {&FOLDERID_ProgramFilesCommonX86, L"C:\\Program Files (x86)\\Common Files"}};
    CommonReplacements expander(shell, std::make_shared<FixedPlatform>(1));
    EXPECT_EQ(Expanded(expander, L"$(FOLDERID_Profile)\\x"), L"C:\\users\\tester\\x");
    EXPECT_EQ(Expanded(expander, L"$(FOLDERID_ProgramFilesCommonX86)"), L"C:\\Program Files (x86)\\Common Files");
    // An account without the folder: the macro stays.
    EXPECT_EQ(Expanded(expander, L"$(FOLDERID_Documents)"), L"$(FOLDERID_Documents)");
    EXPECT_EQ(expander.getStatistics().found, 1u);
    EXPECT_EQ(expander.getStatistics().replaced, 0u);
    shell->folders[0].second = L"D:\\moved";
    EXPECT_EQ(Expanded(expander, L"$(FOLDERID_Profile)"), L"D:\\moved");
    EXPECT_EQ(shell->questions, 4);
}

TEST(CommonReplacements, EveryKnownFolderMacroNamesItsFolder) {
    const std::pair<const wchar_t*, const KNOWNFOLDERID*> table[] = {
        {L"$(FOLDERID_Profile)", &FOLDERID_Profile},
        {L"$(FOLDERID_Desktop)", &FOLDERID_Desktop},
        {L"$(FOLDERID_Documents)", &FOLDERID_Documents},
        {L"$(FOLDERID_LocalAppDataLow)", &FOLDERID_LocalAppDataLow},
        {L"$(FOLDERID_LocalAppData)", &FOLDERID_LocalAppData},
        {L"$(FOLDERID_RoamingAppData)", &FOLDERID_RoamingAppData},
        {L"$(FOLDERID_ProgramData)", &FOLDERID_ProgramData},
        {L"$(FOLDERID_ProgramFiles)", &FOLDERID_ProgramFiles},
        {L"$(FOLDERID_ProgramFilesX64)", &FOLDERID_ProgramFilesX64},
        {L"$(FOLDERID_ProgramFilesX86)", &FOLDERID_ProgramFilesX86},
        {L"$(FOLDERID_ProgramFilesCommon)", &FOLDERID_ProgramFilesCommon},
        {L"$(FOLDERID_ProgramFilesCommonX64)", &FOLDERID_ProgramFilesCommonX64},
        {L"$(FOLDERID_ProgramFilesCommonX86)", &FOLDERID_ProgramFilesCommonX86},
    };
    for (const auto& [macro, folder] : table) {
        auto shell = std::make_shared<FakeShell>();
        shell->folders = {{folder, L"answer"}};
        CommonReplacements expander(shell);
        EXPECT_EQ(Expanded(expander, macro), L"answer") << testing::PrintToString(std::wstring(macro));
    }
}

TEST(CommonReplacements, PlatformWord) {
    const std::pair<DWORD, const wchar_t*> cases[] = {
        {0, L"win32"}, {1, L"x64"}, {2, L"PlatformUnknown"}, {3, L"$(OS.Platform)"}};
    for (const auto& [code, word] : cases) {
        CommonReplacements expander(nullptr, std::make_shared<FixedPlatform>(code));
        EXPECT_EQ(Expanded(expander, L"$(OS.Platform)"), word) << code;
    }
    CommonReplacements real;
    EXPECT_EQ(Expanded(real, L"$(OS.Platform)"), L"x64");
}

}  // namespace

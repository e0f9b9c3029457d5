// The module's small text and registry helpers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/basalt/RegValueCodec.h"
#include "tests/support/ScratchRegistry.h"
#include "welkin/utils.h"
#include "welkin/welkinmodule.h"

namespace {

using testsupport::RegView;
using testsupport::ScratchRegistry;

TEST(SplitString, PiecesBetweenWholeDelimiters) {
    struct Case {
        const wchar_t* source;
        const wchar_t* delimiter;
        std::vector<std::wstring> pieces;
    };
    const Case cases[] = {
        {L"de-DE,fr-FR", L",", {L"de-DE", L"fr-FR"}},
        {L"de-DE", L",", {L"de-DE"}},
        {L"", L",", {}},
        {L",de-DE", L",", {L"", L"de-DE"}},        // a leading delimiter gives an empty first piece
        {L"de-DE,,,fr-FR", L",", {L"de-DE", L"fr-FR"}},  // runs inside give none
        {L"de-DE,", L",", {L"de-DE"}},
        {L"a; b;;c", L"; ", {L"a", L"b;;c"}},      // the whole delimiter ends a piece
        {L"a; ;b", L"; ", {L"a", L"b"}},           // any delimiter character is skipped after it
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> pieces{L"kept"};
        EXPECT_EQ(c.pieces.size(), SplitString(c.source, c.delimiter, pieces)) << c.source;
        pieces.erase(pieces.begin());
        EXPECT_EQ(c.pieces, pieces) << c.source;
    }
}

TEST(ModuleText, TrailingBackslashAndNonZeroTexts) {
    for (auto [given, kept] : {std::pair<const wchar_t*, const wchar_t*>{L"C:\\X\\", L"C:\\X"},
                               {L"C:\\X\\\\", L"C:\\X\\"},
                               {L"C:\\X", L"C:\\X"},
                               {L"\\", L""},
                               {L"", L""}}) {
        std::wstring text(given);
        text.push_back(L'\0');
        RemoveTrailingBackslash(text.data());
        EXPECT_EQ(std::wstring(kept), std::wstring(text.c_str())) << given;
    }
    RemoveTrailingBackslash(nullptr);

    for (auto [text, expected] : {std::pair<const wchar_t*, BOOL>{L"0", FALSE},
                                  {L"", FALSE},
                                  {nullptr, FALSE},
                                  {L"00", TRUE},
                                  {L"0 ", TRUE},
                                  {L"1", TRUE}})
        EXPECT_EQ(expected, IsNotZeroString(text)) << (text ? text : L"(null)");
}

TEST(QzRegDeleteValue, DeletesInTheViewTheFlagsSelect) {
    const wchar_t key[] = L"Software\\WelkinTests\\DeleteValue";
    ScratchRegistry registry;
    registry.SetDword(HKEY_LOCAL_MACHINE, key, L"facmode", 1, RegView::Wow32);
    registry.SetDword(HKEY_LOCAL_MACHINE, key, L"facmode", 1, RegView::Wow64);
    registry.SetDword(HKEY_LOCAL_MACHINE, key, nullptr, 5, RegView::Wow64);

    EXPECT_EQ(0u, QzRegDeleteValue(HKEY_LOCAL_MACHINE, key, L"facmode", kQzRegView32));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, key, L"facmode", type, data, RegView::Wow32));
    EXPECT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, key, L"facmode", type, data, RegView::Wow64));

    EXPECT_EQ(0u, QzRegDeleteValue(HKEY_LOCAL_MACHINE, key, L"", kQzRegView64));  // the default value
    EXPECT_FALSE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, key, nullptr, type, data, RegView::Wow64));

    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              QzRegDeleteValue(HKEY_LOCAL_MACHINE, key, L"absent", kQzRegView64));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              QzRegDeleteValue(HKEY_LOCAL_MACHINE, L"Software\\WelkinTests\\NoSuchKey", L"facmode", 0));
}

}  // namespace

// The "isdudata" template: token replacement, key parsing, expansion against registry keys and the volatile copy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/basalt/RegValueCodec.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/ScrambledRecord.h"
#include "tests/support/ScratchRegistry.h"
#include "welkin/IsduData.h"

namespace {

using testsupport::RegView;
using testsupport::ScratchRegistry;

using testsupport::Narrow;

TEST(ReplaceTokens, EveryOccurrenceInPairOrder) {
    struct Case {
        const wchar_t* templateText;
        std::vector<TokenPair> pairs;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"%a%-%a%-%a%", {{L"%a%", L"x"}}, L"x-x-x"},
        {L"%a%%a%", {{L"%a%", L"%a%%a%"}}, L"%a%%a%%a%%a%"},  // a value's text is not searched again for its token
        {L"%a%", {{L"%a%", L"%b%"}, {L"%b%", L"B"}}, L"B"},   // later pairs see it
        {L"%b%", {{L"%a%", L"A"}, {L"%b%", L"%a%"}}, L"%a%"}, // earlier ones do not
        {L"%A% %a%", {{L"%a%", L"x"}}, L"%A% x"},             // exact case
        {L"%missing% stays", {{L"%a%", L"x"}}, L"%missing% stays"},
        {L"%a", {{L"%a%", L"x"}}, L"%a"},
        {L"no tokens", {}, L"no tokens"},
        {L"", {{L"%a%", L"x"}}, L""},
    };
    for (const Case& c : cases) {
        wchar_t out[64] = L"junk";
        DWORD capacity = 64;
        const TokenPair none;
        EXPECT_EQ(0u, ReplaceTokens(c.templateText, c.pairs.empty() ? &none : c.pairs.data(),
                                    static_cast<DWORD>(c.pairs.size()), out, &capacity))
            << Narrow(c.templateText);
        EXPECT_STREQ(c.expected, out) << Narrow(c.templateText);
        EXPECT_EQ(wcslen(c.expected) + 1, capacity) << Narrow(c.templateText);
    }
}

TEST(ReplaceTokens, CapacityIsTheNeedAndATooSmallOneWritesNothing) {
    const TokenPair pair{L"%v%", L"12345"};
    struct Case {
        DWORD capacity;
        bool withOut;
        DWORD expected;
    };
    for (const Case& c : {Case{8, true, 0}, Case{7, true, ERROR_MORE_DATA}, Case{1, false, 0}}) {
        wchar_t out[16] = L"old";
        DWORD capacity = c.capacity;
        EXPECT_EQ(c.expected, ReplaceTokens(L"<%v%>", &pair, 1, c.withOut ? out : nullptr, &capacity)) << c.capacity;
        EXPECT_EQ(8u, capacity) << c.capacity;
        if (c.withOut) {
            EXPECT_STREQ(c.expected == 0 ? L"<12345>" : L"", out) << c.capacity;
        }
    }
    DWORD capacity = 16;
    wchar_t out[16] = L"old";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ReplaceTokens(L"x", nullptr, 0, out, &capacity));
    EXPECT_STREQ(L"old", out);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ReplaceTokens(nullptr, &pair, 1, out, &capacity));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ReplaceTokens(L"x", &pair, 1, out, nullptr));
}

TEST(CountOccurrences, NonOverlapping) {
    EXPECT_EQ(2u, CountOccurrences(L"aaaaa", L"aa"));
    EXPECT_EQ(2u, CountOccurrences(L"x%a%y%a%", L"%a%"));
    EXPECT_EQ(0u, CountOccurrences(L"x%A%", L"%a%"));
    EXPECT_EQ(0u, CountOccurrences(L"abc", L""));
    EXPECT_EQ(0u, CountOccurrences(nullptr, L"a"));
    EXPECT_EQ(0u, CountOccurrences(L"a", nullptr));
}

TEST(ParseRootKeyName, RootNamesAndWholePaths) {
    struct Case {
        const wchar_t* path;
        BOOL parsed;
        HKEY root;
        const wchar_t* subkey;
    };
    const Case cases[] = {
        {L"HKLM\\SOFTWARE\\X", TRUE, HKEY_LOCAL_MACHINE, L"SOFTWARE\\X"},
        {L"hkey_current_user\\Software", TRUE, HKEY_CURRENT_USER, L"Software"},
        {L"HKCR\\.txt", TRUE, HKEY_CLASSES_ROOT, L".txt"},
        {L"HKCC\\System", TRUE, HKEY_CURRENT_CONFIG, L"System"},
        {L"HKU\\.DEFAULT", TRUE, HKEY_USERS, L".DEFAULT"},
        {L"SOFTWARE\\Torvex\\KVR", TRUE, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\KVR"},
        {L"HKLMX\\a", TRUE, HKEY_LOCAL_MACHINE, L"HKLMX\\a"},
        {L"SOFTWARE", FALSE, nullptr, nullptr},
        {L"HKLM\\", FALSE, nullptr, nullptr},
        {L"", FALSE, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        wchar_t subkey[260] = {};
        HKEY root = nullptr;
        EXPECT_EQ(c.parsed, ParseRootKeyName(c.path, subkey, &root)) << Narrow(c.path);
        if (!c.parsed) continue;
        EXPECT_EQ(c.root, root) << Narrow(c.path);
        EXPECT_STREQ(c.subkey, subkey) << Narrow(c.path);
    }
    wchar_t subkey[260];
    HKEY root = nullptr;
    EXPECT_FALSE(ParseRootKeyName((L"HKLM\\" + std::wstring(260, L'k')).c_str(), subkey, &root));  // never cut
}

constexpr wchar_t kHalvardUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KVR";

class Isdudata : public ::testing::Test {
protected:
    void SetUp() override {
        // The volatile key lives as long as the machine's registry server: start every case without it.
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex", RegView::Wow64);
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kHalvardUninstall, RegView::Wow32);
    }
    void TearDown() override { SetUp(); }

    void SetTemplate(const wchar_t* appInfo, const std::string& text) {
        registry_.SetBinary(HKEY_LOCAL_MACHINE, appInfo, L"isdudata",
                            testsupport::ScrambledRecord(REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1)),
                            RegView::Wow64);
    }
    void SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
        registry_.SetString(HKEY_LOCAL_MACHINE, key, name, value, RegView::Wow64);
    }
    // The template as the run left it: empty when it is absent or not a record.
    static std::wstring Template(const wchar_t* appInfo) {
        wchar_t text[2100] = {};
        DWORD size = sizeof text - sizeof(wchar_t);
        DWORD type = 0;
        if (QzRegReadValueExW(HKEY_LOCAL_MACHINE, appInfo, L"isdudata", &type, reinterpret_cast<BYTE*>(text), &size,
                              kQzRegRecord) != 0 ||
            type != REG_SZ)
            return std::wstring();
        return text;
    }
    void InstallKVR() {
        registry_.SetString(HKEY_LOCAL_MACHINE, kHalvardUninstall, L"DisplayName", L"KVR", RegView::Wow32);
    }

    ScratchRegistry registry_;
};

TEST_F(Isdudata, ExpansionAgainstAKeyTakesItsStringValues) {
    const std::wstring key = L"SOFTWARE\\Torvex\\Tests\\Values";
    SetValue(key, L"lcid", L"1033");
    SetValue(key, L"Lang", L"en-us");
    registry_.SetDword(HKEY_LOCAL_MACHINE, key, L"n", 5, RegView::Wow64);
    const std::string record = "rec";
    registry_.SetBinary(HKEY_LOCAL_MACHINE, key, L"r",
                        testsupport::ScrambledRecord(REG_SZ, record.c_str(), static_cast<DWORD>(record.size() + 1)),
                        RegView::Wow64);
    registry_.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\Tests\\Empty", RegView::Wow64);

    struct Case {
        std::wstring key;
        BOOL records;
        DWORD expected;
        const wchar_t* text;
    };
    const Case cases[] = {
        {key, FALSE, 0, L"1033 en-us %lang% %n% %r%"},
        {L"HKLM\\" + key, FALSE, 0, L"1033 en-us %lang% %n% %r%"},
        {key, TRUE, 0, L"%lcid% %Lang% %lang% %n% rec"},  // read as records, the plain values give nothing
        {L"SOFTWARE\\Torvex\\Tests\\Empty", FALSE, 0, L"%lcid% %Lang% %lang% %n% %r%"},  // passes unchanged
        {L"SOFTWARE\\Torvex\\Tests\\Absent", FALSE, ERROR_INVALID_PARAMETER, L"untouched"},
        {L"NoBackslash", FALSE, ERROR_INVALID_PARAMETER, L"untouched"},
    };
    for (const Case& c : cases) {
        wchar_t out[128] = L"untouched";
        DWORD capacity = 128;
        EXPECT_EQ(c.expected, ExpandRegistryTemplate(c.key.c_str(), L"%lcid% %Lang% %lang% %n% %r%", c.records, out,
                                                     &capacity))
            << Narrow(c.key);
        EXPECT_STREQ(c.text, out) << Narrow(c.key);
    }
}

TEST_F(Isdudata, HalvardFamilyExpandsWithoutAKVRSubstituteKey) {
    SetTemplate(kHalvardAppInfoKey, "l=%lcid%&g=%lang%&x=%missing%");
    SetValue(kHalvardSubstituteKey, L"lcid", L"1031");
    SetValue(kHalvardSubstituteKey, L"lang", L"de-de-extended-tag");  // longer than its token
    EXPECT_EQ(0u, UpdateIsduData());
    EXPECT_EQ(L"l=1031&g=de-de-extended-tag&x=%missing%", Template(kHalvardAppInfoKey));
    EXPECT_EQ(L"", Template(kKVRAppInfoKey));
}

TEST_F(Isdudata, KVRFamilyExpandsAgainstItsOwnKeyIntoBothFamilies) {
    InstallKVR();
    SetTemplate(kKVRAppInfoKey, "%affid%/%affid%/%domain%");
    SetTemplate(kHalvardAppInfoKey, "halvard's own");
    SetValue(kKVRSubstituteKey, L"affid", L"A9");
    SetValue(kKVRSubstituteKey, L"domain", L"first.example");
    EXPECT_EQ(0u, UpdateIsduData());
    EXPECT_EQ(L"A9/A9/first.example", Template(kKVRAppInfoKey));
    EXPECT_EQ(L"A9/A9/first.example", Template(kHalvardAppInfoKey));

    // Later changes of the KVR values still reach the KVR template: it is never shadowed by the volatile copy.
    SetTemplate(kKVRAppInfoKey, "%domain%");
    SetValue(kKVRSubstituteKey, L"domain", L"second.example");
    EXPECT_EQ(0u, UpdateIsduData());
    EXPECT_EQ(L"second.example", Template(kKVRAppInfoKey));
}

TEST_F(Isdudata, VolatileCopyShadowsLaterKVRValuesForTheOtherKeys) {
    SetValue(kKVRSubstituteKey, L"lang", L"en-us");
    SetValue(std::wstring(kKVRSubstituteKey) + L"\\QueryParams", L"langid", L"9");
    SetValue(kKVRSubstituteKey, L"ClientOSV", L"not copied");
    SetTemplate(kHalvardAppInfoKey, "%lang%");
    SetValue(kHalvardSubstituteKey, L"lang", L"halvard");
    EXPECT_EQ(0u, UpdateIsduData());
    EXPECT_EQ(L"en-us", Template(kHalvardAppInfoKey));  // the first run of the boot copied the KVR values

    SetValue(kKVRSubstituteKey, L"lang", L"fr-fr");
    SetTemplate(kHalvardAppInfoKey, "%lang% %ClientOSV%");
    SetValue(kHalvardSubstituteKey, L"ClientOSV", L"10");
    EXPECT_EQ(0u, UpdateIsduData());
    EXPECT_EQ(L"en-us 10", Template(kHalvardAppInfoKey));  // not refreshed in the same boot

    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, std::wstring(kVolatileSubstituteKey) + L"\\QueryParams",
                                      L"langid", type, data, RegView::Wow64));
    EXPECT_FALSE(
        ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kVolatileSubstituteKey, L"ClientOSV", type, data, RegView::Wow64));
}

TEST_F(Isdudata, NothingIsWrittenWhenTheTemplateCannotBeHadOrTheResultIsTooLong) {
    EXPECT_NE(0u, UpdateIsduData());  // no template
    EXPECT_EQ(L"", Template(kHalvardAppInfoKey));

    registry_.SetString(HKEY_LOCAL_MACHINE, kHalvardAppInfoKey, L"isdudata", L"%lang%", RegView::Wow64);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), UpdateIsduData());  // a plain value is not the stored form
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kHalvardAppInfoKey, L"isdudata", type, data, RegView::Wow64));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

    SetTemplate(kHalvardAppInfoKey, "%big%%big%%big%");
    SetValue(kHalvardSubstituteKey, L"big", std::wstring(694, L'b'));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), UpdateIsduData());
    EXPECT_EQ(L"%big%%big%%big%", Template(kHalvardAppInfoKey));

    SetValue(kHalvardSubstituteKey, L"big", std::wstring(693, L'b'));  // 2079 characters fit
    EXPECT_EQ(0u, UpdateIsduData());
    EXPECT_EQ(std::wstring(2079, L'b'), Template(kHalvardAppInfoKey));
}

}  // namespace

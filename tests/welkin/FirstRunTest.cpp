// The first-run steps of the module, run in-process against the registry and files of this test's own prefix: the
// OEM-map language step per family, the anti-theft product's checks, the ZELT build-key copy, on-access scanning and
// the install time.
#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "foundation/basalt/RegValueCodec.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/LangMapFile.h"
#include "tests/support/ScrambledRecord.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"
#include "tests/welkin/SelectorPlaces.h"
#include "welkin/QzRegWriter.h"
#include "welkin/utils.h"
#include "welkin/welkinmodule.h"

namespace {

using testsupport::RegView;
using testsupport::ScratchRegistry;

constexpr wchar_t kKVRUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KVR";
constexpr wchar_t kKVRProduct[] = L"SOFTWARE\\Torvex\\KVR";
constexpr wchar_t kAntiTheft[] = L"Software\\TorvexAntiTheft\\Settings\\AppInfo";
constexpr wchar_t kScanner[] = L"Software\\Torvex\\Dunmore\\YVCore\\On Access Scanner\\QzShield\\Configuration";
constexpr wchar_t kAntivirusInstall[] = L"SOFTWARE\\Torvex\\Skellig\\InstallSettings";
constexpr wchar_t kAntivirusSubstitute[] = L"SOFTWARE\\Torvex\\Skellig\\InstallSettings\\Substitute";

std::wstring CommonAppData() {
    wchar_t folder[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder));
    return folder;
}

void WriteIni(const std::wstring& path, const wchar_t* section, const wchar_t* entry, const wchar_t* text) {
    ASSERT_TRUE(WritePrivateProfileStringW(section, entry, text, path.c_str())) << GetLastError();
}

// A value as stored: its raw type, and its text or number through the record decoder when it is a record.
struct Stored {
    bool record = false;
    DWORD type = 0;
    std::wstring text;
    DWORD number = 0;
};

std::optional<Stored> ReadStored(const std::wstring& key, const wchar_t* name) {
    DWORD rawType = 0;
    std::vector<BYTE> raw;
    if (!ScratchRegistry::Read(HKEY_LOCAL_MACHINE, key, name, rawType, raw)) return std::nullopt;
    Stored stored;
    stored.record = rawType == REG_BINARY;
    wchar_t text[300] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (QzRegReadValueExW(HKEY_LOCAL_MACHINE, key.c_str(), name, &stored.type, reinterpret_cast<BYTE*>(text), &size,
                          stored.record ? kQzRegRecord : 0) != 0)
        return std::nullopt;
    if (stored.type == REG_DWORD)
        memcpy(&stored.number, text, sizeof(DWORD));
    else
        stored.text = text;
    return stored;
}

class FirstRunTest : public testsupport::LoggingFixture {
protected:
    void SetUp() override {
        LoggingFixture::SetUp();
        WipeMachine();
        registry.SetString(HKEY_LOCAL_MACHINE, kKVRProduct, L"Install Dir", install.Path(), RegView::Wow64);
    }
    void TearDown() override {
        WipeMachine();
        LoggingFixture::TearDown();
    }
    void WipeMachine() {
        for (const wchar_t* key : {L"Software\\Torvex", L"Software\\TorvexAntiTheft"})
            ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, key);
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kKVRUninstall, RegView::Wow32);
        testsupport::TempFolder::RemoveTree(CommonAppData() + L"\\Torvex");
    }
    void UseKVRFamily() {
        registry.SetString(HKEY_LOCAL_MACHINE, kKVRUninstall, L"DisplayName", L"KVR", RegView::Wow32);
    }
    std::wstring ZeltIni(bool kvr) const {
        return CommonAppData() + (kvr ? L"\\Torvex\\KVR" : L"\\Torvex\\Halvard") + L"\\RegWiz\\RegApp\\ZELT.ini";
    }
    void PutZeltIni(bool kvr, const wchar_t* buildKey) {
        const std::wstring path = ZeltIni(kvr);
        SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
        WriteIni(path, L"oeminfo", L"buildKey", buildKey);
    }
    void SetRecordText(const std::wstring& key, const wchar_t* name, const wchar_t* text) {
        registry.Create(HKEY_LOCAL_MACHINE, key);
        ASSERT_EQ(0u, QzRegWriteValueExW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ,
                                         reinterpret_cast<const BYTE*>(text),
                                         static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)), kQzRegRecord));
    }
    void SetRecordDword(const std::wstring& key, const wchar_t* name, DWORD value) {
        registry.Create(HKEY_LOCAL_MACHINE, key);
        ASSERT_EQ(0u, QzRegWriteValueExW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&value), sizeof value, kQzRegRecord));
    }

    ScratchRegistry registry;
    testsupport::TempFolder install;
};

TEST_F(FirstRunTest, AntiTheftProductCountsOnlyWithAVersion) {
    CwelkinModule module;
    EXPECT_FALSE(module.IsZELTInstalled());
    registry.SetString(HKEY_LOCAL_MACHINE, kAntiTheft, L"core_version", L"");
    EXPECT_FALSE(module.IsZELTInstalled());
    registry.SetString(HKEY_LOCAL_MACHINE, kAntiTheft, L"core_version", L"3.1");
    EXPECT_TRUE(module.IsZELTInstalled());
}

// A registry text is read when it fills the reader's whole capacity with its terminator ("core_version": 520
// bytes, 259 characters); a longer one is too long, never cut. A text stored without its terminator gets one.
TEST_F(FirstRunTest, AVersionTextThatFillsItsCapacityExactlyIsRead) {
    struct Case {
        const char* name;
        size_t chars;
        bool terminated;
        bool read;
    };
    const Case cases[] = {{"one short", 258, true, true},
                          {"exactly full", 259, true, true},
                          {"one over", 260, true, false},
                          {"exactly full without a terminator", 259, false, true},
                          {"one over without a terminator", 260, false, false}};
    for (const Case& c : cases) {
        const std::wstring text(c.chars, L'7');
        const BYTE* data = reinterpret_cast<const BYTE*>(text.c_str());
        const std::vector<BYTE> stored(data, data + (c.chars + (c.terminated ? 1 : 0)) * sizeof(wchar_t));
        registry.SetBinary(HKEY_LOCAL_MACHINE, kAntiTheft, L"core_version", stored, RegView::Default, REG_SZ);
        CwelkinModule module;
        EXPECT_EQ(c.read, module.IsZELTInstalled() != FALSE) << c.name;
    }
}

TEST_F(FirstRunTest, OnAccessScanningIsEnabledOnlyWhenTheScannerAndTheAntivirusAreThere) {
    struct Case {
        bool scanner, antivirus;
        DWORD expected;  // 0: no value
    };
    for (const Case& c : {Case{true, true, 3}, Case{true, false, 1}, Case{false, true, 0}}) {
        if (c.scanner) registry.SetDword(HKEY_LOCAL_MACHINE, kScanner, L"OASEnabled", 1);
        if (c.antivirus) registry.SetString(HKEY_LOCAL_MACHINE, kAntivirusInstall, L"Install Dir", L"C:\\AV");
        CwelkinModule().EnableOAS();
        const auto stored = ReadStored(kScanner, L"OASEnabled");
        EXPECT_EQ(c.expected, stored ? stored->number : 0) << c.scanner << c.antivirus;
        WipeMachine();
    }
}

TEST_F(FirstRunTest, InstallTimeIsTheLocalTimeAsAnOleDateAndOnlyWhereTheScheduleEntryIs) {
    CwelkinModule().WriteInstallTime();
    EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kAntivirusSubstitute));

    registry.Create(HKEY_LOCAL_MACHINE, kAntivirusSubstitute);
    SYSTEMTIME now;
    GetLocalTime(&now);
    double expected = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&now, &expected));
    CwelkinModule().WriteInstallTime();
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kAntivirusSubstitute, L"InstallTime", type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    ASSERT_EQ(8u, data.size());
    double written = 0;
    memcpy(&written, data.data(), sizeof written);
    EXPECT_LT(std::fabs(written - expected) * 86400.0, 2.0);
}

// A common-build model has partner data files; the installer's OOBE step starts only then.
class CommonBuildTest : public FirstRunTest {
protected:
    const std::wstring partnerKey = L"SOFTWARE\\Torvex\\Halvard\\CommonBuild\\PartnerDataFile";
    const std::wstring partnerFolder = L"C:\\Programdata\\Torvex\\KVR\\Regwiz\\PartnerData";
    void TearDown() override {
        testsupport::TempFolder::RemoveTree(partnerFolder);
        FirstRunTest::TearDown();
    }
    void ListPartnerFile(const wchar_t* guid, const wchar_t* name) {
        registry.SetString(HKEY_LOCAL_MACHINE, partnerKey + L"\\" + guid, L"GuidFilename", name);
    }
};

TEST_F(CommonBuildTest, OnlyExistingPartnerDataFilesMakeACommonBuild) {
    SHCreateDirectoryExW(nullptr, (partnerFolder + L"\\folder.dat").c_str(), nullptr);
    ListPartnerFile(L"{1}", L"missing.dat");
    ListPartnerFile(L"{2}", L"folder.dat");
    CwelkinModule module;
    std::vector<std::wstring> files{L"stale"};
    EXPECT_EQ(0u, module.GetPDFilename(files));
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(module.IsCommonBuildModel());

    HANDLE file = CreateFileW((partnerFolder + L"\\pd.dat").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    ListPartnerFile(L"{3}", L"pd.dat");
    EXPECT_EQ(0u, module.GetPDFilename(files));
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(partnerFolder + L"\\pd.dat", files[0]);
    EXPECT_TRUE(module.IsCommonBuildModel());

    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kKVRProduct, RegView::Wow64);
    EXPECT_EQ(3u, module.GetPDFilename(files));
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(module.IsCommonBuildModel());
}

TEST_F(CommonBuildTest, InstallerOobeStepGetsItsExactCommandLine) {
    wchar_t commonX86[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMONX86, nullptr, 0, commonX86));
    const std::wstring installerFolder = std::wstring(commonX86) + L"\\Torvex\\Installer";
    SHCreateDirectoryExW(nullptr, installerFolder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(COMMAND_DOUBLE_EXE).c_str(),
                          (installerFolder + L"\\qzinst.exe").c_str(), FALSE));
    const std::wstring journal = install.File(L"installer.txt");
    SetEnvironmentVariableW(L"WELKIN_COMMAND_JOURNAL", journal.c_str());
    CwelkinModule module;
    module.OnOOBE();
    SetEnvironmentVariableW(L"WELKIN_COMMAND_JOURNAL", nullptr);
    testsupport::TempFolder::RemoveTree(installerFolder);
    const auto starts = testsupport::ReadCommandStarts(journal);
    ASSERT_EQ(1u, starts.size());
    std::wstring workingFolder = install.Path() + L"\\OnOOBE";
    EXPECT_EQ(" OnOOBE.inf /longpath /install /DoNotDeleteSetupFiles /WorkingDir=\"" +
                  std::string(workingFolder.begin(), workingFolder.end()) + "\"",
              starts[0].commandLine);
}

// ZELT build-key copy: the PXS build key of the module's oeminfo key is copied under the name ZELT.ini gives.
class ZeltCopyTest : public FirstRunTest {
protected:
    const std::wstring oemInfo = L"software\\torvex\\Halvard\\oeminfo";
    const std::wstring pxs = oemInfo + L"\\PXS1";
    const std::wstring zelt = oemInfo + L"\\ZELT7";
    void FillPxs() {
        SetRecordDword(pxs, L"lcid", 1031);
        SetRecordText(pxs, L"culture", L"de-DE");
        SetRecordText(pxs, L"affid", L"501");
        SetRecordText(pxs, L"lang", L"de-de");
        SetRecordText(pxs, L"buildKey", L"PXS1");
        registry.SetString(HKEY_LOCAL_MACHINE, pxs + L"\\Sub", L"kept", L"yes");
    }
};

TEST_F(ZeltCopyTest, CopiesTheSourceValuesUnderTheZeltName) {
    FillPxs();
    PutZeltIni(false, L"ZELT7");
    CwelkinModule module;
    EXPECT_TRUE(module.CopyPXSBuidKeyValuesToZELTBuildkey(pxs));
    const auto lcid = ReadStored(zelt, L"lcid");
    ASSERT_TRUE(lcid);
    EXPECT_TRUE(lcid->record);
    EXPECT_EQ(1031u, lcid->number);
    for (auto [name, text] : {std::pair<const wchar_t*, const wchar_t*>{L"culture", L"de-DE"},
                              {L"affid", L"501"}, {L"lang", L"de-de"}, {L"buildKey", L"ZELT7"}}) {
        const auto stored = ReadStored(zelt, name);
        ASSERT_TRUE(stored) << name;
        EXPECT_TRUE(stored->record) << name;
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored->type) << name;
        EXPECT_EQ(std::wstring(text), stored->text) << name;
    }
    EXPECT_TRUE(ReadStored(zelt + L"\\Sub", L"kept"));
}

TEST_F(ZeltCopyTest, RefusalsLeaveTheRegistryAsItWas) {
    struct Case {
        const char* what;
        const wchar_t* zeltName;  // null: no ZELT.ini
        bool targetThere;
        std::wstring source;
    };
    const Case cases[] = {
        {"no ZELT.ini", nullptr, false, pxs},
        {"the target exists", L"ZELT7", true, pxs},
        {"an empty ZELT name names the oeminfo key itself", L"", false, pxs},
        {"an empty PXS name makes the target lie inside the source", L"ZELT7", false, oemInfo + L"\\"},
        {"a source that cannot be opened", L"ZELT7", false, oemInfo + L"\\Absent"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FillPxs();
        if (c.zeltName) PutZeltIni(false, c.zeltName);
        if (c.targetThere) registry.SetString(HKEY_LOCAL_MACHINE, zelt, L"own", L"value");
        CwelkinModule module;
        EXPECT_FALSE(module.CopyPXSBuidKeyValuesToZELTBuildkey(c.source));
        EXPECT_EQ(c.targetThere, ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, zelt));
        if (c.targetThere) {
            EXPECT_FALSE(ReadStored(zelt, L"lcid"));
        }
        EXPECT_FALSE(ReadStored(oemInfo, L"lcid"));
        WipeMachine();
    }
}

TEST(RegistryKeyPaths, SameOrBelow) {
    struct Case {
        const wchar_t* inner;
        const wchar_t* outer;
        bool below;
    };
    for (const Case& c : {Case{L"a\\b\\c", L"a\\b", true}, Case{L"A\\B", L"a\\b\\", true},
                          Case{L"oeminfo\\ZELT", L"oeminfo\\", true}, Case{L"a\\b", L"a\\b", true},
                          Case{L"a\\bc", L"a\\b", false}, Case{L"a", L"a\\b", false},
                          Case{L"x\\a\\b", L"a", false}})
        EXPECT_EQ(c.below, IsSameOrBelowKey(c.inner, c.outer)) << c.inner << " in " << c.outer;
}

// The OEM-map step when the language selector is missing: the lcid comes from the KVR substitute key, the language
// code and partner values from qzoemmap.ini, and they are written per family plain or as records.
struct Expected {
    const wchar_t* key;
    const wchar_t* name;
    const wchar_t* text;  // null: the REG_DWORD number
    bool record;
};

class LanguageStepTest : public FirstRunTest {
protected:
    void PrepareMaps() {
        const std::wstring ini = install.File(L"qzoemmap.ini");
        WriteIni(ini, L"LCIDLangCodeMap", L"1031", L"de-de");
        WriteIni(ini, L"oeminfo", L"buildKey", L"BK9");
        WriteIni(ini, L"de-de_terms_T1", L"affid", L"777");
        WriteIni(ini, L"de-de_terms_T1", L"domain", L"de.example");
        WriteIni(ini, L"de-de_terms_T1", L"langid", L"7");
        WriteIni(ini, L"de-de_terms_T1", L"culture", L"de-DE");
        registry.SetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\KVR\\AppInfo\\Substitute", L"lcid", L"1031");
    }
    void Check(const std::vector<Expected>& table, DWORD lcid = 1031) {
        for (const Expected& e : table) {
            const auto stored = ReadStored(e.key, e.name);
            ASSERT_TRUE(stored) << e.key << " " << e.name;
            EXPECT_EQ(e.record, stored->record) << e.key << " " << e.name;
            if (e.text) {
                EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored->type) << e.key << " " << e.name;
                EXPECT_EQ(std::wstring(e.text), stored->text) << e.key << " " << e.name;
            } else {
                EXPECT_EQ(static_cast<DWORD>(REG_DWORD), stored->type) << e.key << " " << e.name;
                EXPECT_EQ(lcid, stored->number) << e.key << " " << e.name;
            }
        }
    }
};

TEST_F(LanguageStepTest, HalvardFamilyWritesItsOwnKeysAndTheKVROemSubstitute) {
    PrepareMaps();
    CwelkinModule module;
    ASSERT_FALSE(module.UsesKVRFamily());
    registry.Create(HKEY_LOCAL_MACHINE, L"software\\torvex\\Halvard\\oeminfo\\BK9");
    SetRecordText(L"software\\torvex\\Halvard\\oeminfo\\BK9", L"terms", L"T1");
    module.RunLanguageSelector();
    EXPECT_STREQ(L"1031", module.activeLanguage);
    EXPECT_STREQ(L"de-de", module.languageCode);
    EXPECT_STREQ(L"BK9", module.buildKey);
    EXPECT_STREQ(L"777", module.value);
    const wchar_t* qp = L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute\\QueryParams";
    const wchar_t* sub = L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute";
    const wchar_t* kvrOem = L"software\\Torvex\\oeminfo\\substitute";
    const wchar_t* own = L"software\\torvex\\Halvard\\oeminfo\\BK9";
    Check({{own, L"lcid", nullptr, true}, {own, L"lang", L"de-de", true}, {own, L"affid", L"777", true},
           {own, L"langid", L"7", true}, {own, L"culture", L"de-DE", true},
           {qp, L"culture", L"de-DE", false}, {qp, L"lcid", L"1031", false}, {qp, L"lang", L"de-de", false},
           {qp, L"affid", L"777", false}, {qp, L"langid", L"7", false},
           {sub, L"culture", L"de-DE", false}, {sub, L"affid", L"777", false}, {sub, L"lcid", L"1031", false},
           {sub, L"lang", L"de-de", false}, {sub, L"domain", L"de.example", false},
           {kvrOem, L"culture", L"de-DE", false}, {kvrOem, L"affid", L"777", false},
           {kvrOem, L"lcid", L"1031", false}, {kvrOem, L"lang", L"de-de", false}});
    EXPECT_FALSE(
        ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, L"software\\torvex\\kvr\\appinfo\\substitute\\queryparams"));
}

TEST_F(LanguageStepTest, KVRFamilyAlsoWritesTheKVRKeys) {
    UseKVRFamily();
    PrepareMaps();
    CwelkinModule module;
    ASSERT_TRUE(module.UsesKVRFamily());
    SetRecordText(L"software\\torvex\\oeminfo\\BK9", L"terms", L"T1");
    module.RunLanguageSelector();
    const wchar_t* qp = L"software\\torvex\\kvr\\appinfo\\substitute\\queryparams";
    const wchar_t* sub = L"SOFTWARE\\Torvex\\KVR\\AppInfo\\Substitute";
    const wchar_t* own = L"software\\torvex\\oeminfo\\BK9";
    Check({{own, L"lcid", nullptr, true}, {own, L"lang", L"de-de", true}, {own, L"affid", L"777", true},
           {own, L"langid", L"7", true}, {own, L"culture", L"de-DE", true},
           {qp, L"culture", L"de-DE", false}, {qp, L"lcid", L"1031", false}, {qp, L"lang", L"de-de", false},
           {qp, L"affid", L"777", false}, {qp, L"langid", L"7", false},
           {sub, L"culture", L"de-DE", false}, {sub, L"affid", L"777", false}, {sub, L"lcid", L"1031", false},
           {sub, L"lang", L"de-de", false}, {sub, L"domain", L"de.example", false},
           {L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute\\QueryParams", L"lang", L"de-de", false}});
}

using SelectorPlaces = welkintest::SelectorPlaces<LanguageSelectorSystem>;

TEST_F(LanguageStepTest, TheSelectorIsLoadedOnlyFromAKnownCommonFilesFolder) {
    PrepareMaps();
    const struct {
        const wchar_t* commonFiles;  // empty: the shell has none
        std::vector<std::wstring> loaded;
    } cases[] = {{L"", {}},
                 // Relative to the current folder, or to the current folder of drive C: never loaded.
                 {L"Common", {}},
                 {L"C:Common", {}},
                 {L"C:\\Common", {L"C:\\Common\\Torvex\\Platform\\Pomvek.dll"}}};
    for (const auto& c : cases) {
        journal.entries.clear();
        SelectorPlaces system(c.commonFiles);
        CwelkinModule module;
        module.RunLanguageSelector(system);
        EXPECT_EQ(c.loaded, system.loaded) << c.commonFiles;
        EXPECT_TRUE(Logged(L"Unable to load pomvek.dll")) << c.commonFiles;
        EXPECT_TRUE(Logged(L"Copied dwLCID into m_szLCID, which now = 0")) << c.commonFiles;
    }
}

// The lcid of the KVR substitute key, read again when the ini has no language code for the selector's answer: as
// welkin writes it (plain) or as a record; a record that does not decode is no lcid.
TEST_F(LanguageStepTest, LcidIsReadAgainPlainOrAsARecord) {
    constexpr wchar_t kSubstitute[] = L"SOFTWARE\\Torvex\\KVR\\AppInfo\\Substitute";
    enum class Form { Plain, Record, FlippedRecord, Missing };
    struct Case {
        const char* name;
        Form form;
        bool read;
    };
    const Case cases[] = {{"plain", Form::Plain, true},
                          {"record", Form::Record, true},
                          {"a flipped record", Form::FlippedRecord, false},
                          {"missing", Form::Missing, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrepareMaps();  // the lcid "1031" plain
        std::vector<BYTE> record = testsupport::ScrambledRecord(REG_SZ, "1031", 5);
        if (c.form == Form::FlippedRecord) record.back() ^= 0x01;
        if (c.form == Form::Record || c.form == Form::FlippedRecord)
            registry.SetBinary(HKEY_LOCAL_MACHINE, kSubstitute, L"lcid", record);
        if (c.form == Form::Missing) ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kSubstitute);
        CwelkinModule module;
        EXPECT_EQ(c.read ? TRUE : FALSE, module.UpdateLangCode(install.File(L"qzoemmap.ini").c_str()));
        EXPECT_STREQ(c.read ? L"1031" : L"", module.activeLanguage);
        if (c.read) {
            EXPECT_STREQ(L"de-de", module.languageCode);
        }
        WipeMachine();
        SetUp();
    }
}

// ZELT installed: the OEM map's language code and affiliate id go to the anti-theft product too, plain.
TEST_F(LanguageStepTest, AntiTheftProductGetsTheCultureAndAffiliateWhenInstalled) {
    for (const bool zelt : {true, false}) {
        SCOPED_TRACE(zelt ? "installed" : "not installed");
        PrepareMaps();
        SetRecordText(L"software\\torvex\\Halvard\\oeminfo\\BK9", L"terms", L"T1");
        if (zelt) registry.SetString(HKEY_LOCAL_MACHINE, kAntiTheft, L"core_version", L"3.1");
        CwelkinModule().RunLanguageSelector();
        if (zelt) {
            Check({{kAntiTheft, L"Culture", L"de-de", false}, {kAntiTheft, L"AffiliateID", L"777", false}});
        } else {
            EXPECT_FALSE(ReadStored(kAntiTheft, L"Culture"));
            EXPECT_FALSE(ReadStored(kAntiTheft, L"AffiliateID"));
        }
        WipeMachine();
        SetUp();
    }
}

// The anti-theft map's part of the step: at_langmap.dat in the KVR install folder, its build key and terms under
// "ATasExtra". No OEM map ini and no common build, so nothing after it writes.
class AntiTheftStepTest : public LanguageStepTest {
protected:
    static constexpr wchar_t kExtra[] = L"software\\torvex\\oeminfo\\ATasExtra";
    static constexpr wchar_t kHalvardQueryParams[] = L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute\\QueryParams";
    static constexpr wchar_t kHalvardSubstitute[] = L"SOFTWARE\\Torvex\\Halvard\\AppInfo\\Substitute";
    static constexpr wchar_t kHalvardOemSubstitute[] = L"software\\Torvex\\Halvard\\oeminfo\\substitute";
    static constexpr wchar_t kKVRQueryParams[] = L"software\\torvex\\kvr\\appinfo\\substitute\\queryparams";
    static constexpr wchar_t kKVRSubstitute[] = L"SOFTWARE\\Torvex\\KVR\\AppInfo\\Substitute";
    static constexpr wchar_t kKVROemSubstitute[] = L"software\\Torvex\\oeminfo\\substitute";
    static constexpr wchar_t kKVRBuildKey[] = L"software\\torvex\\oeminfo\\ATBK";
    static constexpr wchar_t kHalvardBuildKey[] = L"software\\torvex\\Halvard\\oeminfo\\ATBK";

    // The map gives the current LCID the language "en-gb" and the culture "en-GB", and its terms "ATT" the
    // affiliate "AT-55".
    void PutAntiTheftMap(const wchar_t* terms) {
        const std::string lcid = std::to_string(lcid_);
        install.Write(L"at_langmap.dat",
                      testsupport::EncipheredLangMap(
                          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><packageinfo><packagedetails><terms>"
                          "<termsinfo lcid=\"" + lcid + "\" terms=\"ATT\" affid=\"AT-55\"/></terms>"
                          "<languagemapping><langmap lcid=\"" + lcid + "\" lang=\"en-gb\" culture=\"en-GB\"/>"
                          "</languagemapping></packagedetails></packageinfo>"));
        registry.SetString(HKEY_LOCAL_MACHINE, kExtra, L"ATBuildKey", L"ATBK");
        if (terms) registry.SetString(HKEY_LOCAL_MACHINE, kExtra, L"ATTerms", terms);
    }
    static bool Exists(const wchar_t* key) { return ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, key); }

    const DWORD lcid_ = GetLCID();
    const std::wstring lcidText_ = std::to_wstring(lcid_);
};

TEST_F(AntiTheftStepTest, WithoutThePXSProductTheLanguageGoesToTheHalvardKeysAndItsBuildKey) {
    PutAntiTheftMap(L"ATT");
    CwelkinModule module;
    ASSERT_FALSE(module.UsesKVRFamily());
    module.RunLanguageSelector();
    EXPECT_EQ(lcidText_, module.activeLanguage);
    EXPECT_STREQ(L"ATT", module.terms);
    EXPECT_STREQ(L"AT-55", module.value);
    const wchar_t* lcid = lcidText_.c_str();
    Check({{kHalvardQueryParams, L"lcid", lcid, false}, {kHalvardQueryParams, L"lang", L"en-gb", false},
           {kHalvardQueryParams, L"culture", L"en-GB", false},
           {kHalvardSubstitute, L"lcid", lcid, false}, {kHalvardSubstitute, L"lang", L"en-gb", false},
           {kHalvardOemSubstitute, L"lcid", lcid, false}, {kHalvardOemSubstitute, L"lang", L"en-gb", false},
           {kHalvardBuildKey, L"lcid", nullptr, true}, {kHalvardBuildKey, L"lang", L"en-gb", true},
           {kHalvardBuildKey, L"affid", L"AT-55", true}},
          lcid_);
    EXPECT_FALSE(ReadStored(kHalvardSubstitute, L"culture"));
    for (const wchar_t* key : {kKVRQueryParams, kKVRSubstitute, kKVROemSubstitute, kKVRBuildKey})
        EXPECT_FALSE(Exists(key)) << key;
}

// With the PXS product the suite's own keys are left to it; both build keys get the language as records.
TEST_F(AntiTheftStepTest, WithThePXSProductOnlyBothBuildKeysAreWritten) {
    UseKVRFamily();
    PutAntiTheftMap(L"ATT");
    CwelkinModule module;
    ASSERT_TRUE(module.UsesKVRFamily());
    module.RunLanguageSelector();
    for (const wchar_t* key : {kKVRBuildKey, kHalvardBuildKey}) {
        SCOPED_TRACE(key);
        Check({{key, L"lcid", nullptr, true}, {key, L"lang", L"en-gb", true}, {key, L"affid", L"AT-55", true}},
              lcid_);
    }
    for (const wchar_t* key :
         {kKVRQueryParams, kKVRSubstitute, kKVROemSubstitute, kHalvardQueryParams, kHalvardSubstitute,
          kHalvardOemSubstitute})
        EXPECT_FALSE(Exists(key)) << key;
}

// Terms that the map does not know give no affiliate: the build keys still get it, as an empty record.
TEST_F(AntiTheftStepTest, AnAffiliateThatIsNotFoundIsStoredEmpty) {
    for (const wchar_t* terms : {L"other", static_cast<const wchar_t*>(nullptr)}) {
        SCOPED_TRACE(terms ? "unknown terms" : "no terms");
        PutAntiTheftMap(terms);
        CwelkinModule module;
        module.RunLanguageSelector();
        EXPECT_STREQ(L"", module.value);
        Check({{kHalvardBuildKey, L"affid", L"", true}, {kHalvardBuildKey, L"lang", L"en-gb", true}});
        WipeMachine();
        SetUp();
    }
}

// Without its build key the anti-theft part ends after taking the LCID: nothing is written.
TEST_F(AntiTheftStepTest, WithoutItsBuildKeyNothingIsWritten) {
    PutAntiTheftMap(L"ATT");
    ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kExtra);
    CwelkinModule module;
    module.RunLanguageSelector();
    EXPECT_EQ(lcidText_, module.activeLanguage);
    EXPECT_STREQ(L"", module.terms);
    for (const wchar_t* key : {L"SOFTWARE\\Torvex\\Halvard\\AppInfo", kHalvardOemSubstitute, kHalvardBuildKey})
        EXPECT_FALSE(Exists(key)) << key;
}

// The step's texts have 260 bytes each: 129 characters and the terminator. The build key comes from the OEM map
// ini (a longer plain text is cut there), the terms from a record (a longer one is too long and reads as none).
TEST_F(LanguageStepTest, TextsThatFillTheirCapacityExactlyAreRead) {
    struct Case {
        size_t chars;
        size_t buildKeyRead;
        size_t termsRead;
    };
    for (const Case& c : {Case{128, 128, 128}, Case{129, 129, 129}, Case{130, 129, 0}}) {
        PrepareMaps();
        const std::wstring longText(c.chars, L'k');
        WriteIni(install.File(L"qzoemmap.ini"), L"oeminfo", L"buildKey", longText.c_str());
        const std::wstring readKey = longText.substr(0, c.buildKeyRead);
        SetRecordText(L"software\\torvex\\Halvard\\oeminfo\\" + readKey, L"terms", longText.c_str());
        CwelkinModule module;
        module.RunLanguageSelector();
        EXPECT_EQ(readKey, module.buildKey) << c.chars;
        EXPECT_EQ(longText.substr(0, c.termsRead), module.terms) << c.chars;
    }
}

TEST_F(LanguageStepTest, WithoutMapsAndOutsideACommonBuildOnlyTheLcidTextIsSet) {
    CwelkinModule module;
    module.RunLanguageSelector();
    EXPECT_STREQ(L"0", module.activeLanguage);
    EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\Halvard\\AppInfo"));
    EXPECT_FALSE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, L"software\\Torvex\\oeminfo"));
}

}  // namespace

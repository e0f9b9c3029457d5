// What the ETW logger takes from the machine: the application settings (defaults of "PXS" or an application key
// under "SOFTWARE\Torvex.logging"), the enable and severity overrides under the Provider key, and the program's file
// version.
#include <shlobj.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/logging/ETWLogger.h"
#include "foundation/logging/LogBuilder.h"
#include "tests/support/RecordingTraceCalls.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/ScrambledRecord.h"

namespace {

using ETWLogging::CETWLogging;
using ETWLogging::internal::ETWAppProperties;
using testsupport::RecordingTraceCalls;
using testsupport::ScratchRegistry;

const wchar_t kAppKey[] = L"SOFTWARE\\Torvex.logging\\Fenix";
const wchar_t kDefaultProviderKey[] = L"SOFTWARE\\Torvex\\Logging\\Provider";
// {E16CA450-55CC-11E0-B8AF-0800200C9A66}
const GUID kDefaultProvider = {0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
// {491FB070-54CC-11E0-B8AF-0800200C9A66}
const GUID kDefaultSessionId = {0x491FB070, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
const wchar_t kFenixProviderText[] = L"{0E9C1A22-7F3B-4C4D-9A11-2B3C4D5E6F70}";
const GUID kFenixProvider = {0x0E9C1A22, 0x7F3B, 0x4C4D, {0x9A, 0x11, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70}};

std::wstring ProgramData() {
    PWSTR path = nullptr;
    EXPECT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path)));
    std::wstring text = path ? path : L"";
    CoTaskMemFree(path);
    return text;
}

TEST(ETWAppPropertiesTest, DefaultApplicationNeedsNoKey) {
    for (const wchar_t* name : {static_cast<const wchar_t*>(nullptr), L"", L"PXS", L"pxs"}) {
        ETWAppProperties p;
        ASSERT_TRUE(p.init(name));
        EXPECT_EQ(name && *name ? name : L"PXS", p.applicationName);
        EXPECT_EQ(L"SOFTWARE\\Torvex\\Logging", p.sessionKeyPath);
        EXPECT_EQ(L"SOFTWARE\\Torvex\\Logging\\Controller", p.controllerKeyPath);
        EXPECT_EQ(kDefaultProviderKey, p.providerKeyPath);
        EXPECT_EQ(p.sessionKeyPath, p.overrideKeyPath);
        EXPECT_EQ(ProgramData() + L"\\Torvex\\QZLOGS", p.logPath);
        EXPECT_EQ(ProgramData() + L"\\Torvex\\QZLOGS\\ETW", p.etlPath);
        EXPECT_EQ(p.etlPath + L"\\", p.controllerPath);
        EXPECT_EQ(L"Global\\Torvex.{0696D115-BE52-46c3-BFEE-D73A305B6581}", p.ownerMutexName);
        EXPECT_EQ(L"Torvex.{E4367DA7-2B80-47f3-86D2-7626A18FC6F4}", p.sessionName);
        EXPECT_TRUE(IsEqualGUID(kDefaultSessionId, p.sessionIdGuid));
        EXPECT_TRUE(IsEqualGUID(kDefaultProvider, p.providerGuid));
        EXPECT_EQ(HKEY_LOCAL_MACHINE, p.rootKey);
        std::wstring etlFile;
        p.getEtlFileName(etlFile);
        EXPECT_EQ(L"qzlogs.etl", etlFile);
        EXPECT_FALSE(p.init(L"PXS"));  // a name is set once
    }
}

// An unknown application fails without leaving its name behind, so that the retry as "PXS" is not refused.
TEST(ETWAppPropertiesTest, FailedApplicationCanBeRetriedAsTheDefault) {
    ETWAppProperties p;
    EXPECT_FALSE(p.init(L"Fenix"));
    EXPECT_TRUE(p.applicationName.empty());
    ASSERT_TRUE(p.init(nullptr));
    EXPECT_EQ(L"PXS", p.applicationName);

    ETWLogging::CLoggingIf* logger = nullptr;
    ASSERT_TRUE(ETWLogging::CreateETWLogger(L"Fenix", L"wtetw", nullptr, nullptr, logger));
    auto* etw = dynamic_cast<CETWLogging*>(logger);
    ASSERT_NE(nullptr, etw);
    EXPECT_EQ(L"PXS", etw->properties().applicationName);
    EXPECT_EQ(0, logger->Release());
}

// A complete application key, less the value or subkey a case leaves out.
void LayOutFenix(ScratchRegistry& registry, const std::wstring& without) {
    const std::wstring app = kAppKey;
    registry.Create(HKEY_LOCAL_MACHINE, app);
    struct Value {
        const wchar_t* subkey;
        const wchar_t* name;
        const wchar_t* text;
    } values[] = {
        {L"Controller", L"Log Path", L"D:\\logs"},
        {L"Controller", L"Controller Path", L"D:\\etl\\ctl\\"},
        {L"Controller", L"Owner Mutex Name", L"Global\\FenixOwner"},
        {L"Session", L"Session ID Guid", L"{11111111-2222-3333-4444-555555555555}"},
        {L"Session", L"Session Name", L"Fenix.Session"},
        {L"Provider", L"Provider Guid", kFenixProviderText},
    };
    for (const wchar_t* subkey : {L"Controller", L"Session", L"Provider"})
        if (without != subkey) registry.Create(HKEY_LOCAL_MACHINE, app + L"\\" + subkey);
    for (const Value& v : values)
        if (without != v.name && without != v.subkey)
            registry.SetString(HKEY_LOCAL_MACHINE, app + L"\\" + v.subkey, v.name, v.text);
}

TEST(ETWAppPropertiesTest, ApplicationKeyGivesTheSettings) {
    ScratchRegistry registry;
    LayOutFenix(registry, L"");
    ETWAppProperties p;
    ASSERT_TRUE(p.init(L"Fenix"));
    EXPECT_EQ(std::wstring(kAppKey) + L"\\Provider", p.providerKeyPath);
    EXPECT_EQ(std::wstring(kAppKey) + L"\\Controller", p.controllerKeyPath);
    EXPECT_EQ(L"D:\\logs", p.logPath);
    EXPECT_EQ(ProgramData() + L"\\Torvex\\QZLOGS\\ETW", p.etlPath);  // missing: the default
    EXPECT_EQ(L"D:\\etl\\ctl\\", p.controllerPath);
    EXPECT_EQ(L"Global\\FenixOwner", p.ownerMutexName);
    EXPECT_EQ(L"Fenix.Session", p.sessionName);
    EXPECT_TRUE(IsEqualGUID(kFenixProvider, p.providerGuid));
    std::wstring etlFile;
    p.getEtlFileName(etlFile);
    EXPECT_EQ(L"qzlogs.etl", etlFile);  // the same for every application

    // The provider registers under the application's control GUID.
    auto trace = std::make_shared<RecordingTraceCalls>();
    CETWLogging logger(trace);
    ASSERT_EQ(0u, logger.openEx(L"Fenix", L"wtetw", nullptr, nullptr, nullptr));
    ASSERT_EQ(0u, logger.registerProvider());
    EXPECT_TRUE(IsEqualGUID(kFenixProvider, trace->registrations.at(0).controlGuid));
}

TEST(ETWAppPropertiesTest, ApplicationKeyMissingASettingIsRefused) {
    for (const wchar_t* missing : {L"Controller Path", L"Owner Mutex Name", L"Session ID Guid", L"Session Name",
                                   L"Provider Guid", L"Session", L"Provider", L"Controller"}) {
        SCOPED_TRACE(testing::Message() << std::string(missing, missing + wcslen(missing)));
        ScratchRegistry registry;
        LayOutFenix(registry, missing);
        ETWAppProperties p;
        EXPECT_FALSE(p.init(L"Fenix"));
        EXPECT_TRUE(p.applicationName.empty());
        CETWLogging logger(std::make_shared<RecordingTraceCalls>());
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
                  logger.openEx(L"Fenix", L"wtetw", nullptr, nullptr, nullptr));
        EXPECT_EQ(0u, logger.open(L"wtetw", nullptr, nullptr, 0));  // the creator's retry
    }
}

struct Override {
    const wchar_t* below;  // "" for the Provider key itself, else the subkey below it
    const wchar_t* name;
    enum { Dword, Scrambled, Text } kind;
    DWORD value;
};

void LayOut(ScratchRegistry& registry, const std::wstring& provider, const std::vector<Override>& overrides) {
    for (const Override& o : overrides) {
        const std::wstring path = *o.below ? provider + L"\\" + o.below : provider;
        if (o.kind == Override::Dword) registry.SetDword(HKEY_LOCAL_MACHINE, path, o.name, o.value);
        if (o.kind == Override::Text) registry.SetString(HKEY_LOCAL_MACHINE, path, o.name, std::to_wstring(o.value));
        if (o.kind == Override::Scrambled)
            registry.SetBinary(HKEY_LOCAL_MACHINE, path, o.name,
                               testsupport::ScrambledRecord(REG_DWORD, &o.value, sizeof o.value));
    }
}

// The logger is group "wtetw" of this program: its identity is "wtetw\logging_etw_tests".
TEST(ETWOverridesTest, ProviderThenGroupThenIdentityOverrideTheController) {
    const wchar_t* group = L"wtetw";
    const wchar_t* identity = L"wtetw\\logging_etw_tests";
    struct Case {
        const char* what;
        std::vector<Override> overrides;
        bool enabled;
        DWORD threshold;
    } cases[] = {
        {"none: the controller's level", {}, true, 2},
        {"provider", {{L"", L"Severity", Override::Dword, 5}}, true, 5},
        {"group over provider", {{L"", L"Severity", Override::Dword, 5}, {group, L"Severity", Override::Dword, 4}},
         true, 4},
        {"identity over group",
         {{L"", L"Severity", Override::Dword, 5},
          {group, L"Severity", Override::Dword, 4},
          {identity, L"Severity", Override::Dword, 1}},
         true, 1},
        {"severity clamped", {{L"", L"Severity", Override::Dword, 9}}, true, 6},
        {"severity 0 clamped", {{group, L"Severity", Override::Dword, 0}}, true, 1},
        {"disabled", {{L"", L"Enable", Override::Dword, 0}}, false, 2},
        {"enabled again below",
         {{L"", L"Enable", Override::Dword, 0}, {identity, L"Enable", Override::Dword, 7}}, true, 2},
        {"scrambled values are not overrides",
         {{L"", L"Severity", Override::Scrambled, 5}, {L"", L"Enable", Override::Scrambled, 0}}, true, 2},
        {"text values are not overrides", {{group, L"Severity", Override::Text, 5}}, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchRegistry registry;
        LayOut(registry, kDefaultProviderKey, c.overrides);
        auto trace = std::make_shared<RecordingTraceCalls>();
        CETWLogging logger(trace);
        ASSERT_EQ(0u, logger.open(group, nullptr, nullptr, 0));
        ASSERT_EQ(0u, logger.registerProvider());
        ASSERT_EQ(0u, trace->enable(0x55, 2, 0));
        EXPECT_EQ(c.enabled, logger.isEnabled());
        EXPECT_EQ(c.threshold, logger.getSeverity());
    }
}

TEST(ETWOverridesTest, OverridesApplyFromTheOpenOn) {
    ScratchRegistry registry;
    LayOut(registry, kDefaultProviderKey, {{L"wtetw", L"Severity", Override::Dword, 5}});
    CETWLogging logger(std::make_shared<RecordingTraceCalls>());
    ASSERT_EQ(0u, logger.open(L"wtetw", nullptr, nullptr, 0));
    EXPECT_EQ(5u, logger.getSeverity());
    EXPECT_FALSE(logger.isSeverityEnabled(4));
}

// An application's overrides live below its own key; the default Provider key does not reach it.
TEST(ETWOverridesTest, ApplicationReadsOnlyItsOwnProviderKey) {
    ScratchRegistry registry;
    LayOutFenix(registry, L"");
    LayOut(registry, kDefaultProviderKey, {{L"", L"Severity", Override::Dword, 6}});
    LayOut(registry, std::wstring(kAppKey) + L"\\Provider", {{L"wtetw", L"Severity", Override::Dword, 4}});
    CETWLogging logger(std::make_shared<RecordingTraceCalls>());
    ASSERT_EQ(0u, logger.openEx(L"Fenix", L"wtetw", nullptr, nullptr, nullptr));
    EXPECT_EQ(4u, logger.getSeverity());
}

TEST(ETWFileVersionTest, CommaFormIsWrittenWithDots) {
    struct Case {
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {L"1, 2, 3, 4", L"1.2.3.4"},
        {L"1,2,3,4", L"1.2.3.4"},
        {L"10, 0, 19041, 4294967295", L"10.0.19041.4294967295"},
        {L"1,2,3,4 (beta)", L"1.2.3.4"},
        {L"10.0.19041.1", L"10.0.19041.1"},
        {L"1, 2, 3", L"1, 2, 3"},
        {L"1, 2, x, 4", L"1, 2, x, 4"},
        {L"1 ,2,3,4", L"1 ,2,3,4"},
        {L"4294967296,0,0,0", L"4294967296,0,0,0"},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, ETWLogging::internal::DottedFileVersion(c.text)) << c.text;
}

}  // namespace

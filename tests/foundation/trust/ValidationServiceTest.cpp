// The validation-service client and the signed sibling loader under it, against the jxvvtpa.dll double.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/trust/TrustedLoading.h"
#include "foundation/trust/ValidationServiceClient.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using trusttest::SignedFile;
using trusttest::UnsignedFile;
using trusttest::SignedFolder;

class ValidationClientTest : public ::testing::Test {
protected:
    trusttest::ValidationDouble double_;
    const std::wstring file_ = SignedFile(L"good", L"trust_payload");
};

TEST_F(ValidationClientTest, VersionDecidesFlagsAndVerdictBit) {
    struct Case {
        const wchar_t* text;  // null: no value
        DWORD version;
    } cases[] = {
        {L"15.5", 1505}, {L"16.4", 1604}, {L"15.3", 1504}, {L"15.4", 1504},
        {L"16.0", 1504}, {L"16.2", 1504}, {L"14", 1504},   {nullptr, 1504},
    };
    double_.SetMode(trusttest::ValidationDouble::kVouchAll);
    for (const Case& c : cases) {
        const std::wstring label = c.text ? c.text : L"(none)";
        double_.Uninstall();
        double_.Install(c.text, SignedFolder(L"good"));
        ValidationServiceClient client;
        EXPECT_EQ(client.version(), c.version) << label.c_str();
        ASSERT_TRUE(client.hasInterface()) << label.c_str();
        const bool newer = c.version >= 1505;
        double_.ClearJournal();
        double_.Set(L"VerdictBits", newer ? 1 : 8);  // the other version's bit only
        EXPECT_EQ(client.validateFile(file_.c_str()), 5u) << label.c_str();
        double_.Set(L"VerdictBits", newer ? 8 : 1);
        EXPECT_EQ(client.validateFile(file_.c_str()), 0u) << label.c_str();
        const std::wstring request = (newer ? L"512 " : L"4 ") + file_;
        EXPECT_THAT(double_.Journal(), ElementsAre(request, request)) << label.c_str();
    }
}

TEST_F(ValidationClientTest, StatusWithoutBitOneRefusesWhateverTheVerdict) {
    double_.Install(L"15.5", SignedFolder(L"good"));
    double_.SetMode(trusttest::ValidationDouble::kVouchAll);
    double_.Set(L"StatusBits", 0xFFFFFFFDu);
    double_.Set(L"VerdictBits", 0xFFFFFFFFu);
    ValidationServiceClient client;
    EXPECT_EQ(client.validateFile(file_.c_str()), 5u);
}

TEST_F(ValidationClientTest, RefusalAndListedPaths) {
    double_.Install(L"15.5", SignedFolder(L"good"));
    ValidationServiceClient client;
    double_.SetMode(trusttest::ValidationDouble::kRefuse);
    EXPECT_EQ(client.validateFile(file_.c_str()), 5u);
    double_.Vouch({L"C:\\other.dll", file_});
    EXPECT_EQ(client.validateFile(file_.c_str()), 0u);
    EXPECT_EQ(client.validateFile(SignedFile(L"expired", L"trust_payload").c_str()), 5u);
}

TEST_F(ValidationClientTest, OlderInterfaceIsTheFallback) {
    double_.Install(L"15.5", SignedFolder(L"good"));
    double_.SetMode(trusttest::ValidationDouble::kVouchAll);
    double_.Set(L"Interfaces", 2);
    double_.ClearJournal();
    ValidationServiceClient client;
    EXPECT_TRUE(client.hasInterface());
    EXPECT_EQ(client.validateFile(file_.c_str()), 0u);
    EXPECT_THAT(double_.Journal(), ElementsAre(L"get KqvValidationControl2", L"get KqvValidationControl",
                                               L"512 " + file_));

    double_.Set(L"Interfaces", 0);
    ValidationServiceClient none;
    EXPECT_FALSE(none.hasInterface());
    EXPECT_EQ(none.validateFile(file_.c_str()), 5u);
}

TEST_F(ValidationClientTest, NoServiceMeansNoInterface) {
    double_.SetMode(trusttest::ValidationDouble::kVouchAll);
    double_.Uninstall();
    double_.ClearJournal();
    ValidationServiceClient client;
    EXPECT_EQ(client.version(), 0u);
    EXPECT_FALSE(client.hasInterface());
    EXPECT_EQ(client.validateFile(file_.c_str()), 5u);
    EXPECT_TRUE(double_.Journal().empty());
}

TEST_F(ValidationClientTest, WithoutInstallFolderOnlyTheFallbackModulesFolderIsTried) {
    // A library of the right name in the current directory must never be picked up.
    testsupport::TempFolder current;
    ASSERT_TRUE(CopyFileW(SignedFile(L"good", L"jxvvtpa").c_str(), current.File(L"jxvvtpa.dll").c_str(), FALSE));
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
    double_.SetMode(trusttest::ValidationDouble::kVouchAll);
    // A module of the good folder: its folder holds the library.
    HMODULE neighbour = LoadLibraryExW(SignedFile(L"good", L"trust_payload").c_str(), nullptr, 0);
    ASSERT_NE(neighbour, nullptr);
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::wstring programFolder(program, wcsrchr(program, L'\\') + 1);

    // The system-core key without its folder value, or no key at all.
    for (const bool keyPresent : {true, false}) {
        double_.Uninstall();
        if (keyPresent) double_.Install(L"15.5", L"");
        double_.ClearJournal();

        ValidationServiceClient client;
        EXPECT_FALSE(client.hasInterface()) << keyPresent;
        SiblingLoad beside;
        beside.name = L"jxvvtpa.dll";
        EXPECT_NE(LoadSignedSiblingDll(beside), 0u) << keyPresent;
        EXPECT_EQ(beside.path, programFolder + L"jxvvtpa.dll") << keyPresent;
        EXPECT_EQ(beside.module, nullptr) << keyPresent;
        EXPECT_TRUE(double_.Journal().empty()) << keyPresent;

        SiblingLoad load;
        load.name = L"jxvvtpa.dll";
        load.fallbackModule = neighbour;
        EXPECT_EQ(LoadSignedSiblingDll(load), 0u) << keyPresent;
        EXPECT_EQ(load.path, SignedFile(L"good", L"jxvvtpa")) << keyPresent;
        EXPECT_NE(load.module, nullptr) << keyPresent;
        if (load.module) FreeLibrary(load.module);
        EXPECT_EQ(GetModuleHandleW(current.File(L"jxvvtpa.dll").c_str()), nullptr) << keyPresent;
    }
    SetCurrentDirectoryW(previous);
    FreeLibrary(neighbour);
}

TEST_F(ValidationClientTest, LibrarySignatureDecidesTheLoad) {
    double_.SetMode(trusttest::ValidationDouble::kVouchAll);
    struct Case {
        const wchar_t* variant;
        bool loads;
    } cases[] = {
        {L"good", true},
        {L"expired", true},  // an expired signing certificate still loads
        {L"stranger", false},
    };
    for (const Case& c : cases) {
        double_.Uninstall();
        double_.Install(L"15.5", SignedFolder(c.variant));
        ValidationServiceClient client;
        EXPECT_EQ(client.hasInterface(), c.loads) << c.variant;
    }
    // The library is judged by WinVerifyTrust alone; the untrusted root is the verdict.
    double_.Uninstall();
    double_.Install(L"15.5", SignedFolder(L"stranger"));
    SiblingLoad load;
    load.name = L"jxvvtpa.dll";
    EXPECT_EQ(LoadSignedSiblingDll(load), static_cast<DWORD>(CERT_E_UNTRUSTEDROOT));
    EXPECT_EQ(load.module, nullptr);
}

TEST_F(ValidationClientTest, SiblingNextToTheFallbackModule) {
    testsupport::TempFolder emptyInstall;
    double_.Install(L"15.5", emptyInstall.Path());
    // A module of the good folder serves as the fallback: its folder holds the library.
    HMODULE neighbour = LoadLibraryExW(SignedFile(L"good", L"trust_payload").c_str(), nullptr, 0);
    ASSERT_NE(neighbour, nullptr);
    SiblingLoad load;
    load.name = L"jxvvtpa.dll";
    load.fallbackModule = neighbour;
    EXPECT_EQ(LoadSignedSiblingDll(load), 0u);
    EXPECT_EQ(load.path, SignedFile(L"good", L"jxvvtpa"));
    EXPECT_NE(load.module, nullptr);
    if (load.module) FreeLibrary(load.module);
    FreeLibrary(neighbour);
}

// An install folder or a library name that is not absolute is never judged nor loaded, wherever it would resolve;
// nor is a name without an extension, which the loader would open with ".dll" appended.
TEST_F(ValidationClientTest, SiblingByAPathThatIsNotExactIsRefused) {
    const std::wstring folder = SignedFolder(L"good");
    const testsupport::TempFolder scratch;
    const std::wstring bare = scratch.File(L"jxvvtpa");
    ASSERT_TRUE(CopyFileW((folder + L"\\jxvvtpa.dll").c_str(), bare.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(UnsignedFile(L"trust_payload").c_str(), (bare + L".dll").c_str(), FALSE));
    const size_t split = folder.find_last_of(L'\\');
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.substr(0, split).c_str()));
    const std::wstring relativeFolder = folder.substr(split + 1);
    const struct {
        std::wstring installDir;
        std::wstring name;
    } cases[] = {{relativeFolder, L"jxvvtpa.dll"},
                 {folder.substr(2), L"jxvvtpa.dll"},
                 {folder, folder.substr(0, 2) + relativeFolder + L"\\jxvvtpa.dll"},
                 {scratch.Path(), L"jxvvtpa"},
                 {folder, bare}};
    for (const auto& c : cases) {
        double_.Uninstall();
        double_.Install(L"15.5", c.installDir);
        SiblingLoad load;
        load.name = c.name;
        EXPECT_EQ(LoadSignedSiblingDll(load), static_cast<DWORD>(ERROR_BAD_PATHNAME)) << c.installDir << c.name;
        EXPECT_EQ(load.module, nullptr) << c.installDir << c.name;
        if (load.module) FreeLibrary(load.module);
    }
    SetCurrentDirectoryW(previous);
}

TEST_F(ValidationClientTest, SiblingArguments) {
    SiblingLoad tooLong;
    tooLong.name = std::wstring(MAX_PATH, L'a');
    EXPECT_EQ(LoadSignedSiblingDll(tooLong), 87u);

    double_.Install(L"15.5", SignedFolder(L"good"));
    void* out = reinterpret_cast<void*>(1);
    // A signed library without the export: the lookup's error.
    EXPECT_EQ(GetInterfaceFromSignedDll(L"trust_payload.dll", "KqvValidationControl2", &out, nullptr),
              static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(out, nullptr);
}

TEST_F(ValidationClientTest, InstallDirText) {
    double_.Install(nullptr, L"C:\\Suite");
    testsupport::ScratchRegistry registry;
    registry.SetString(HKEY_LOCAL_MACHINE, trusttest::kDunmoreKey, L"szInstallDir32", L"C:\\Suite32",
                       testsupport::RegView::Wow64);
    wchar_t buffer[64];
    ASSERT_TRUE(GetDunmoreInstallDir(false, L"jxvvtpa.dll", buffer, 64));
    EXPECT_STREQ(buffer, L"C:\\Suite\\jxvvtpa.dll");
    ASSERT_TRUE(GetDunmoreInstallDir(true, nullptr, buffer, 64));
    EXPECT_STREQ(buffer, L"C:\\Suite32\\");
    // Appends never go past the capacity: here only the separator fits.
    ASSERT_TRUE(GetDunmoreInstallDir(false, L"jxvvtpa.dll", buffer, 10));
    EXPECT_STREQ(buffer, L"C:\\Suite\\");
    double_.Uninstall();
    EXPECT_FALSE(GetDunmoreInstallDir(false, nullptr, buffer, 64));
}

}  // namespace

// The client's own road to the bus library: the default location from the registry, and the trust check before
// the load. The bus double is never loaded into this process by anything else first.
#include <gtest/gtest.h>

#include "clients/messagebus/MessageBusClient.h"
#include "clients/support/ModuleStatus.h"
#include "clients/support/SharedLibrary.h"
#include "tests/doubles/CorluneControl.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr wchar_t kFenwk[] = L"SOFTWARE\\TORVEX\\FENWK";

// A machine where the validation service vouches for files whose signature WinVerifyTrust accepts.
class TrustedBusTest : public testsupport::LoggingFixture {
protected:
    void SetUp() override {
        LoggingFixture::SetUp();
        validation.Install(L"15.5", trusttest::SignedFolder(L"good"));
        validation.SetMode(trusttest::ValidationDouble::kVouchSigned);
        SetEnvironmentVariableW(doubles::corlune::kJournalVariable, busJournal.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(doubles::corlune::kJournalVariable, nullptr);
        LoggingFixture::TearDown();
    }
    std::wstring Place(const std::wstring& build, const wchar_t* folderName) {
        const std::wstring folder = scratch.File(folderName);
        CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_TRUE(CopyFileW(build.c_str(), (folder + L"\\Corlune.dll").c_str(), FALSE));
        return folder;
    }

    trusttest::ValidationDouble validation;
    testsupport::ScratchRegistry registry;
    testsupport::TempFolder scratch;
    std::wstring busJournal = scratch.File(L"bus.txt");
};

TEST_F(TrustedBusTest, AnUnsignedLibraryIsNeverLoaded) {
    const std::wstring folder = Place(trusttest::UnsignedFile(L"Corlune"), L"unsigned");
    const std::wstring path = folder + L"\\Corlune.dll";
    EXPECT_THROW(Orvan::SharedLibrary(Orvan::LibraryLocation{L"Corlune.dll", {folder}}), Orvan::ModuleException);
    EXPECT_TRUE(Logged(L"Failed to load library: Corlune.dll."));
    EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str()));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"Corlune.dll"));

    // Nor through the client's own road.
    registry.SetString(HKEY_LOCAL_MACHINE, kFenwk, L"Install Dir", folder);
    EXPECT_FALSE(Orvan::MessageBusClient::getInstance());
    EXPECT_TRUE(Logged(L"Failed to create message bus client. Caught ModuleException - what: Failed to load library."));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"Corlune.dll"));
    EXPECT_TRUE(testsupport::ReadJournalLines(busJournal).empty());
}

TEST_F(TrustedBusTest, NoLibraryOutsideTheWorkingFolderGivesNoClient) {
    // With no install folder its macro stays as written: a signed library waits in a folder of that name.
    const std::wstring working = scratch.File(L"working");
    CreateDirectoryW(working.c_str(), nullptr);
    Place(trusttest::SignedFile(L"good", L"Corlune"), L"working\\$(Fenwick.InstallDir)");
    wchar_t before[MAX_PATH] = {};
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, before));
    ASSERT_TRUE(SetCurrentDirectoryW(working.c_str()));
    const bool client = static_cast<bool>(Orvan::MessageBusClient::getInstance());
    SetCurrentDirectoryW(before);
    EXPECT_FALSE(client);
    EXPECT_TRUE(Logged(L"Failed to find valid path for library: Corlune.dll."));
    EXPECT_FALSE(Logged(L"Entering checkIfExists for $(Fenwick.InstallDir)\\Corlune.dll"));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"Corlune.dll"));
}

TEST_F(TrustedBusTest, TheSignedLibraryInTheInstallFolderCarriesAPublication) {
    registry.SetString(HKEY_LOCAL_MACHINE, kFenwk, L"Install Dir",
                       Place(trusttest::SignedFile(L"good", L"Corlune"), L"signed"));
    {
        auto client = Orvan::MessageBusClient::getInstance();
        ASSERT_TRUE(client);
        EXPECT_EQ(0u, client->publish(Orvan::createMessage(L"Core.OOBE.OOBEComplete", L"welkin", L"")));
    }
    std::vector<std::string> entries;
    for (const std::string& line : testsupport::ReadJournalLines(busJournal))
        entries.push_back(line.substr(0, line.find('\t')));
    // The client and then its shim each unregister the reply callback; the bus takes the second as a no-op.
    EXPECT_EQ((std::vector<std::string>{"create", "open", "publish", "unregisterReplyCallback",
                                        "unregisterReplyCallback", "close"}),
              entries);
    EXPECT_EQ(nullptr, GetModuleHandleW(L"Corlune.dll")) << "released with the client";
}

}  // namespace

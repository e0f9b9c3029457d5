// The post-OOBE service start of the real welkin.exe, which closes every start whatever the run flag says: through
// the service-manager double when the service host is enabled, else the configured Windows services through this
// prefix's service control manager. The exit code never depends on it.
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/TestService.h"
#include "tests/support/WinePaths.h"
#include "tests/system/WelkinRun.h"

namespace systemtest {
namespace {

constexpr DWORD kEFail = 0x80004005;
constexpr wchar_t kHostKey[] = L"SOFTWARE\\Torvex\\RVXAHOST";
constexpr wchar_t kSvcHostOobe[] = L"SOFTWARE\\Torvex\\Platform\\QzSvcHost\\Oobe";
// This prefix's answer to welkin.exe's version query: a system without delayed automatic start, the one start type
// that Wine's service control manager cannot answer about.
constexpr wchar_t kWelkinVersionKey[] = L"Software\\Wine\\AppDefaults\\welkin.exe";

class ServicesRun : public WelkinRun {
protected:
    void SetUp() override {
        WelkinRun::SetUp();
        SetEnvironmentVariableW(L"WELKIN_RVXAAPI_JOURNAL", managerJournal_.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"WELKIN_RVXAAPI_JOURNAL", nullptr);
        testsupport::ScratchRegistry::Wipe(HKEY_CURRENT_USER, kWelkinVersionKey);
        WelkinRun::TearDown();
    }

    // RVXAAPI.DLL (signed or not) in a host folder, the service host enabled and pointing at it.
    void InstallServiceManager(bool signedBuild) {
        validation_ = std::make_unique<trusttest::ValidationDouble>();
        validation_->Install(L"15.5", trusttest::SignedFolder(L"good"));
        validation_->SetMode(trusttest::ValidationDouble::kVouchSigned);
        const std::wstring folder = Scratch().File(L"RVXAHost");
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring build =
            signedBuild ? trusttest::SignedFile(L"good", L"RVXAAPI") : trusttest::UnsignedFile(L"RVXAAPI");
        ASSERT_TRUE(CopyFileW(build.c_str(), (folder + L"\\RVXAAPI.DLL").c_str(), FALSE)) << GetLastError();
        registry_.SetDword(HKEY_LOCAL_MACHINE, kHostKey, L"Enable", 1, testsupport::RegView::Wow64);
        registry_.SetString(HKEY_LOCAL_MACHINE, kHostKey, L"szInstallDir64", folder, testsupport::RegView::Wow64);
    }
    std::vector<std::string> ManagerCalls() const { return testsupport::ReadJournalLines(managerJournal_); }
    std::optional<DWORD> FreshInstallComplete() const {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!testsupport::ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kHostKey, L"FreshInstallComplete", type, data,
                                                testsupport::RegView::Wow64) ||
            type != REG_DWORD || data.size() != 4)
            return std::nullopt;
        return *reinterpret_cast<const DWORD*>(data.data());
    }

private:
    std::wstring managerJournal_ = Scratch().File(L"manager.txt");
    std::unique_ptr<trusttest::ValidationDouble> validation_;
};

TEST_F(ServicesRun, EnabledServiceHostIsAskedOncePerStart) {
    InstallServiceManager(true);
    EXPECT_EQ(kEFail, RunWelkin());  // run flag clear: the services are started all the same
    SetRecordDword(kHalvardOem, L"OEMMgr", 1);
    EXPECT_EQ(0u, RunWelkin());
    const std::vector<std::string> once = {"QzDllGetClassObject IServiceManager", "StartServicesByHost KESTRO 5000",
                                           "Release"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(twice, ManagerCalls());
    EXPECT_EQ(1u, FreshInstallComplete().value_or(0));
}

TEST_F(ServicesRun, UnsignedServiceManagerIsNeverLoaded) {
    InstallServiceManager(false);
    EXPECT_EQ(kEFail, RunWelkin());
    EXPECT_TRUE(ManagerCalls().empty());
    EXPECT_EQ(1u, FreshInstallComplete().value_or(0));
}

TEST_F(ServicesRun, ConfiguredAutomaticServiceIsStartedWithoutTheServiceHost) {
    registry_.SetString(HKEY_CURRENT_USER, kWelkinVersionKey, L"Version", L"winxp64");
    const std::wstring program = L"\"" + testsupport::WindowsPathOf(SERVICE_DOUBLE_EXE) + L"\" good";
    testsupport::TestService good(L"WelkinRunGood", program, SERVICE_AUTO_START);
    testsupport::TestService demand(L"WelkinRunDemand", program, SERVICE_DEMAND_START);
    ASSERT_TRUE(good.Created() && demand.Created());
    SetString(kSvcHostOobe, nullptr, L"WelkinRunDemand;WelkinRunAbsent;WelkinRunGood");

    EXPECT_EQ(kEFail, RunWelkin());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), good.State());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), demand.State());
    EXPECT_FALSE(FreshInstallComplete().has_value());
    EXPECT_TRUE(ManagerCalls().empty());
    // A second start finds it running and leaves it so.
    EXPECT_EQ(kEFail, RunWelkin());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), good.State());
}

}  // namespace
}  // namespace systemtest

// The post-OOBE service start of the real welkin.exe, which closes every start whatever the run flag says: through
// the service-manager double when the service host is enabled, else the configured Windows services through this
// prefix's service control manager. The exit code never depends on it.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/TestService.h"
#include "tests/system/WelkinRun.h"

namespace systemtest {
namespace {

constexpr DWORD kEFail = 0x80004005;
constexpr wchar_t kSvcHostOobe[] = L"SOFTWARE\\Torvex\\Platform\\QzSvcHost\\Oobe";
// This prefix's answer to welkin.exe's version query: a system without delayed automatic start, the one start type
// that Wine's service control manager cannot answer about.
constexpr wchar_t kWelkinVersionKey[] = L"Software\\Wine\\AppDefaults\\welkin.exe";

class ServicesRun : public WelkinRun {};

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
    testsupport::TestService& good = AddWindowsService(L"WelkinRunGood", SERVICE_AUTO_START);
    testsupport::TestService& demand = AddWindowsService(L"WelkinRunDemand", SERVICE_DEMAND_START);
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

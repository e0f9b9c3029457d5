// The start of one service against this prefix's real service control manager and the service double: a good
// service, the ones left alone, a service stuck in its start and one whose process dies while it starts. Wine's
// manager refuses the delayed-start query (124), so the wrapper answers it as Windows does for a service without
// delayed start; every other call is the real one. Each case runs in a prefix of its own; the stuck cases take
// more than ten seconds by nature.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/TestService.h"
#include "tests/support/WinePaths.h"
#include "tests/welkin/WindowsLikeScm.h"
#include "welkin/QzStartServices.h"
#include "welkin/ServiceHelper.h"

namespace {

std::wstring DoubleWith(const std::wstring& mode) {
    return L"\"" + testsupport::WindowsPathOf(SERVICE_DOUBLE_EXE) + L"\" " + mode;
}

class ServiceScmTest : public ::testing::Test {
protected:
    ServiceScmTest() : manager_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
    ~ServiceScmTest() override {
        if (manager_) CloseServiceHandle(manager_);
    }

    // The result of starting the service by name, and the milliseconds it took.
    DWORD Start(const std::wstring& name, ULONGLONG* elapsedMs = nullptr) {
        const ULONGLONG start = GetTickCount64();
        const DWORD result = helper_.StartServiceByName(manager_, name.c_str(), nullptr, true);
        if (elapsedMs) *elapsedMs = GetTickCount64() - start;
        return result;
    }

    SC_HANDLE manager_;
    ServiceHelper::CServiceHelper helper_{std::make_shared<scmtest::WindowsLikeDelayQuery>()};
};

TEST_F(ServiceScmTest, AutomaticServiceStartsAndOthersAreLeftAlone) {
    testsupport::TestService good(L"WelkinGood", DoubleWith(L"good"), SERVICE_AUTO_START);
    testsupport::TestService demand(L"WelkinDemand", DoubleWith(L"good"), SERVICE_DEMAND_START);
    ASSERT_TRUE(good.Created() && demand.Created());

    EXPECT_EQ(0u, Start(L"WelkinGood"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), good.State());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), Start(L"WelkinGood"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), Start(L"WelkinDemand"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), demand.State());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), Start(L"WelkinAbsent"));
    // The route welkin takes logs the outcome and goes on; the manager is opened per service.
    EXPECT_EQ(0u, CQzStartServices(std::make_shared<scmtest::WindowsLikeDelayQuery>()).startService(L"WelkinGood"));
}

TEST_F(ServiceScmTest, StuckWithoutWaitHintEndsAfterTenSecondsWithoutProgress) {
    testsupport::TestService stuck(L"WelkinStuckNoHint", DoubleWith(L"stuck 0 14000"), SERVICE_AUTO_START);
    ULONGLONG elapsed = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), Start(L"WelkinStuckNoHint", &elapsed));
    EXPECT_GE(elapsed, 10000u);
}

TEST_F(ServiceScmTest, StuckWithWaitHintEndsToo) {
    // A hint of a second or more made every pause shorter than the hint: the wait never ended on its own.
    testsupport::TestService stuck(L"WelkinStuckHint", DoubleWith(L"stuck 2000 14000"), SERVICE_AUTO_START);
    ULONGLONG elapsed = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), Start(L"WelkinStuckHint", &elapsed));
    EXPECT_GE(elapsed, 10000u);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), stuck.State()) << "ended by the time-out, not by the service";
}

TEST_F(ServiceScmTest, ServiceWhoseProcessDiesWhileStartingEndsAtOnce) {
    // Wine's manager keeps reporting "start pending" for a service whose process has ended.
    testsupport::TestService dies(L"WelkinDies", DoubleWith(L"dies"), SERVICE_AUTO_START, 0);
    ULONGLONG elapsed = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_STATE), Start(L"WelkinDies", &elapsed));
    EXPECT_LT(elapsed, 10000u) << "not by the time-out";
}

}  // namespace

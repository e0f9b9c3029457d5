// Start types, the start of one service and the transition waits, driven through a scripted service control
// manager with a clock of its own (Wine's manager cannot answer the delayed-start query and has no stuck services).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/welkin/FakeScm.h"
#include "welkin/ServiceHelper.h"

namespace {

using scmtest::FakeScm;
using scmtest::FakeService;
using scmtest::kNever;
using scmtest::Status;
using ServiceHelper::CServiceHelper;

COsDetect Windows(DWORD major, DWORD minor) {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    return COsDetect(&version, true);
}

TEST(OsDetect, ClassifiesPlatformAndVersion) {
    struct Case {
        DWORD platform, major, minor;
        DWORD flags;
    };
    const Case cases[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 3, 95, COsDetect::kWin95}, {VER_PLATFORM_WIN32_WINDOWS, 4, 10, COsDetect::kWin98},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, COsDetect::kWinMe}, {VER_PLATFORM_WIN32_NT, 4, 0, COsDetect::kWinNT4},
        {VER_PLATFORM_WIN32_NT, 5, 0, COsDetect::kWin2000},     {VER_PLATFORM_WIN32_NT, 5, 2, COsDetect::kWinXP},
        {VER_PLATFORM_WIN32_NT, 6, 0, COsDetect::kVista},       {VER_PLATFORM_WIN32_NT, 10, 0, COsDetect::kVista},
        {VER_PLATFORM_WIN32s, 3, 1, COsDetect::kUnknown},       {3, 10, 0, COsDetect::kUnknown},
    };
    for (const Case& c : cases) {
        OSVERSIONINFOEXW version = {};
        version.dwPlatformId = c.platform;
        version.dwMajorVersion = c.major;
        version.dwMinorVersion = c.minor;
        version.wServicePackMajor = 2;
        EXPECT_EQ(c.flags, COsDetect(&version, true).Flags()) << c.platform << " " << c.major << "." << c.minor;
    }
    OSVERSIONINFOEXW nt = {};
    nt.dwPlatformId = VER_PLATFORM_WIN32_NT;
    nt.dwMajorVersion = 6;
    nt.wServicePackMajor = 2;
    EXPECT_EQ(2, COsDetect(&nt, true).ServicePackMajor());
    EXPECT_EQ(0, COsDetect(&nt, false).ServicePackMajor());  // the basic record has no such field
    EXPECT_EQ(COsDetect::kUnknown, COsDetect(nullptr, false).Flags());
    EXPECT_EQ(COsDetect::kVista, COsDetect().Flags());  // what this Wine reports (6.1)
}

class ServiceHelperTest : public ::testing::Test {
protected:
    FakeService& Add(const std::wstring& name, FakeService service = {}) {
        if (!service.status) service.status = [](DWORD, DWORD) { return Status(SERVICE_STOPPED); };
        return scm->services[name] = std::move(service);
    }
    SC_HANDLE Open(const std::wstring& name) { return scm->OpenServiceW(FakeScm::kManager, name.c_str(), 0); }

    std::shared_ptr<FakeScm> scm = std::make_shared<FakeScm>();
};

TEST_F(ServiceHelperTest, StartTypeTable) {
    struct Case {
        const char* what;
        DWORD startType;
        BOOL delayed;
        DWORD config2Error;
        DWORD configError;
        DWORD result;
        DWORD type;
    };
    const Case cases[] = {
        {"automatic", SERVICE_AUTO_START, FALSE, 0, 0, 0, ServiceHelper::kStartAuto},
        {"delayed", SERVICE_AUTO_START, TRUE, 0, 0, 0, ServiceHelper::kStartAutoDelayed},
        {"demand", SERVICE_DEMAND_START, FALSE, 0, 0, 0, ServiceHelper::kStartDemand},
        {"demand, delayed flag", SERVICE_DEMAND_START, TRUE, 0, 0, 0, ServiceHelper::kStartDemand},
        {"disabled", SERVICE_DISABLED, FALSE, 0, 0, 0, ServiceHelper::kStartDisabled},
        {"boot", SERVICE_BOOT_START, FALSE, 0, 0, 0, ServiceHelper::kStartBoot},
        {"system", SERVICE_SYSTEM_START, FALSE, 0, 0, 0, ServiceHelper::kStartSystem},
        {"unknown type", 9, FALSE, 0, 0, 0, ServiceHelper::kStartDisabled},
        {"delayed query refused", SERVICE_AUTO_START, FALSE, ERROR_INVALID_LEVEL, 0, ERROR_INVALID_LEVEL, 77},
        {"delayed query without error", SERVICE_AUTO_START, FALSE, FakeScm::kNoError, 0, ERROR_INTERNAL_ERROR, 77},
        {"config query refused", SERVICE_AUTO_START, FALSE, 0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 77},
    };
    CServiceHelper helper(scm, Windows(10, 0));
    for (const Case& c : cases) {
        FakeService& service = Add(L"svc");
        service.startType = c.startType;
        service.delayed = c.delayed;
        service.config2Error = c.config2Error;
        service.configError = c.configError;
        DWORD type = 77;
        EXPECT_EQ(c.result, helper.GetServiceStartupType(Open(L"svc"), type)) << c.what;
        EXPECT_EQ(c.type, type) << c.what;
    }
}

TEST_F(ServiceHelperTest, ConfigBufferGrowsAndOlderSystemsAreNotAskedAboutDelay) {
    FakeService& service = Add(L"svc");
    service.delayed = TRUE;
    service.configBytes = 700;
    DWORD type = 0;
    CServiceHelper xp(scm, Windows(5, 1));
    EXPECT_EQ(0u, xp.GetServiceStartupType(Open(L"svc"), type));
    EXPECT_EQ(ServiceHelper::kStartAuto, type);
    EXPECT_EQ((std::vector<std::string>{"OpenServiceW svc 0", "QueryServiceConfigW 64", "QueryServiceConfigW 700"}),
              scm->calls);
}

// A service that starts: pending with a rising check point for a while, then running.
FakeService Starting(DWORD pendingMs, DWORD hint) {
    FakeService service;
    service.status = [pendingMs, hint](DWORD now, DWORD startedAt) {
        if (startedAt == kNever) return Status(SERVICE_STOPPED);
        const DWORD since = now - startedAt;
        return since < pendingMs ? Status(SERVICE_START_PENDING, 1 + since / 1000, hint) : Status(SERVICE_RUNNING);
    };
    return service;
}

TEST_F(ServiceHelperTest, StartByNameOutcomes) {
    Add(L"auto", Starting(2500, 3000));
    FakeService demand = Starting(0, 0);
    demand.startType = SERVICE_DEMAND_START;
    Add(L"demand", demand);
    FakeService running = Starting(0, 0);
    running.status = [](DWORD, DWORD) { return Status(SERVICE_RUNNING); };
    Add(L"running", running);
    FakeService pending = running;
    pending.status = [](DWORD, DWORD) { return Status(SERVICE_START_PENDING, 1, 1000); };
    Add(L"pending", pending);
    FakeService refused = Starting(0, 0);
    refused.startError = ERROR_SERVICE_DISABLED;
    Add(L"refused", refused);
    // Still stopping when asked: followed until stopped, then started.
    FakeService stopping;
    stopping.status = [](DWORD now, DWORD startedAt) {
        if (startedAt != kNever) return Status(SERVICE_RUNNING);
        return now < 3000 ? Status(SERVICE_STOP_PENDING, 1 + now / 1000, 2000) : Status(SERVICE_STOPPED);
    };
    Add(L"stopping", stopping);
    // Its process ends while it stops, just before the manager records the stop: the normal way to stop.
    FakeService processStops;
    processStops.processId = 4242;
    processStops.processEndsAt = 1500;
    processStops.status = [](DWORD now, DWORD startedAt) {
        if (startedAt != kNever) return Status(SERVICE_RUNNING);
        return now < 1600 ? Status(SERVICE_STOP_PENDING, 1, 2000, 4242) : Status(SERVICE_STOPPED);
    };
    Add(L"process stops", processStops);

    struct Case {
        const wchar_t* name;
        DWORD result;
        bool started;
    };
    const Case cases[] = {
        {L"auto", 0, true},
        {L"demand", ERROR_INVALID_NAME, false},
        {L"running", ERROR_ALREADY_EXISTS, false},
        {L"pending", ERROR_ALREADY_EXISTS, false},
        {L"refused", ERROR_SERVICE_DISABLED, true},
        {L"stopping", 0, true},
        {L"process stops", 0, true},
        {L"absent", ERROR_SERVICE_DOES_NOT_EXIST, false},
        {L"", ERROR_INVALID_PARAMETER, false},
    };
    CServiceHelper helper(scm, Windows(10, 0));
    for (const Case& c : cases) {
        scm->calls.clear();
        scm->now = 0;
        EXPECT_EQ(c.result, helper.StartServiceByName(FakeScm::kManager, c.name, nullptr, true))
            << testing::PrintToString(std::wstring(c.name));
        bool started = false;
        for (const std::string& call : scm->calls) started |= call.rfind("StartServiceW", 0) == 0;
        EXPECT_EQ(c.started, started) << testing::PrintToString(std::wstring(c.name));
    }
    EXPECT_EQ(ERROR_INVALID_PARAMETER, helper.StartServiceByName(nullptr, L"auto", nullptr, true));
    // Without the start-type check a demand-start service is started too.
    EXPECT_EQ(0u, helper.StartServiceByName(FakeScm::kManager, L"demand", nullptr, false));
}

TEST_F(ServiceHelperTest, StartWaitEndsByStateProgressOrTimeOut) {
    struct Case {
        const char* what;
        FakeService service;
        DWORD result;
        DWORD minMs, maxMs;  // the clock when the wait ended
    };
    auto stuck = [](DWORD hint) {
        FakeService s;
        s.status = [hint](DWORD, DWORD started) {
            return started == kNever ? Status(SERVICE_STOPPED) : Status(SERVICE_START_PENDING, 1, hint);
        };
        return s;
    };
    FakeService slowButMoving = Starting(60000, 1000);
    FakeService stops;
    stops.status = [](DWORD now, DWORD started) {
        if (started == kNever) return Status(SERVICE_STOPPED);
        return now - started < 3000 ? Status(SERVICE_START_PENDING, 1, 2000) : Status(SERVICE_STOPPED);
    };
    // The service's process ends while its status keeps saying "start pending".
    FakeService dies = stuck(3000);
    dies.processId = 4242;
    dies.processEndsAt = 1500;
    dies.status = [](DWORD, DWORD started) {
        return started == kNever ? Status(SERVICE_STOPPED) : Status(SERVICE_START_PENDING, 1, 3000, 4242);
    };
    FakeService diedBeforeTheWait = dies;
    diedBeforeTheWait.processGoneAtOpen = true;
    FakeService queryFails = stuck(0);
    queryFails.statusError = ERROR_ACCESS_DENIED;
    queryFails.statusErrorAt = 2000;

    const Case cases[] = {
        {"stuck, hint 0", stuck(0), ERROR_TIMEOUT, 10001, 12000},
        {"stuck, hint 2000", stuck(2000), ERROR_TIMEOUT, 10001, 12000},
        {"stuck, hint 30000", stuck(30000), ERROR_TIMEOUT, 30001, 34000},
        {"stuck, hint 200000", stuck(200000), ERROR_TIMEOUT, 200001, 211000},
        {"a minute of progress", slowButMoving, 0, 60000, 61000},
        {"stops while starting", stops, ERROR_INVALID_STATE, 3000, 4000},
        {"process ends while starting", dies, ERROR_INVALID_STATE, 1500, 1500},
        {"process gone before the wait", diedBeforeTheWait, ERROR_INVALID_STATE, 1000, 1000},
        {"status query fails", queryFails, ERROR_ACCESS_DENIED, 2000, 3000},
    };
    for (const Case& c : cases) {
        scm = std::make_shared<FakeScm>();
        Add(L"svc", c.service);
        CServiceHelper helper(scm, Windows(10, 0));
        EXPECT_EQ(c.result, helper.StartServiceByName(FakeScm::kManager, L"svc", nullptr, true)) << c.what;
        EXPECT_GE(scm->now, c.minMs) << c.what;
        EXPECT_LE(scm->now, c.maxMs) << c.what;
        EXPECT_EQ(1 + (c.service.processId && !c.service.processGoneAtOpen ? 1 : 0), scm->closed)
            << c.what << ": the service handle, and the process handle when one was opened";
    }
}

TEST_F(ServiceHelperTest, TransitionWaitStartsFromTheStateItFinds) {
    FakeService running;
    running.status = [](DWORD, DWORD) { return Status(SERVICE_RUNNING); };
    Add(L"running", running);
    FakeService paused;
    paused.status = [](DWORD, DWORD) { return Status(SERVICE_PAUSED); };
    Add(L"paused", paused);
    FakeService pending;
    pending.status = [](DWORD, DWORD) { return Status(SERVICE_START_PENDING, 1, 0); };
    Add(L"pending", pending);

    CServiceHelper helper(scm, Windows(10, 0));
    EXPECT_EQ(0u, helper.WaitForServiceTransition(Open(L"running"), SERVICE_START_PENDING, SERVICE_RUNNING, nullptr));
    EXPECT_EQ(ERROR_INVALID_STATE,
              helper.WaitForServiceTransition(Open(L"paused"), SERVICE_START_PENDING, SERVICE_RUNNING, nullptr));
    EXPECT_EQ(0u, scm->now);

    scm->cancelAt = 2500;
    EXPECT_EQ(ERROR_CANCELLED, helper.WaitForServiceTransition(Open(L"pending"), SERVICE_START_PENDING,
                                                                SERVICE_RUNNING, FakeScm::kCancel));
    EXPECT_EQ(2500u, scm->now);
}

}  // namespace

#include "tests/support/TestService.h"

#include <gtest/gtest.h>

namespace testsupport {

TestService::TestService(const std::wstring& name, const std::wstring& binaryPath, DWORD startType, DWORD settleMs)
    : name_(name), settleMs_(settleMs) {
    manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_NE(nullptr, manager_) << GetLastError();
    if (!manager_) return;
    service_ = CreateServiceW(manager_, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                              startType, SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr,
                              nullptr);
    EXPECT_NE(nullptr, service_) << "CreateServiceW " << GetLastError();
}

TestService::~TestService() {
    if (service_) {
        if (State() == SERVICE_RUNNING) {
            SERVICE_STATUS status = {};
            ControlService(service_, SERVICE_CONTROL_STOP, &status);
        }
        WaitFor(SERVICE_STOPPED, settleMs_);
        DeleteService(service_);
        CloseServiceHandle(service_);
    }
    if (manager_) CloseServiceHandle(manager_);
}

bool TestService::StartAndWaitRunning(DWORD timeoutMs) {
    if (!service_ || !StartServiceW(service_, 0, nullptr)) return false;
    return WaitFor(SERVICE_RUNNING, timeoutMs);
}

DWORD TestService::State() const {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!service_ || !QueryServiceStatusEx(service_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                           sizeof status, &needed))
        return 0;
    return status.dwCurrentState;
}

bool TestService::WaitFor(DWORD state, DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (State() == state) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(50);
    }
}

}  // namespace testsupport

#pragma once
// A Windows service that a test creates in its prefix (own process, the given start type and binary path with its
// arguments) and deletes again when the object goes away: a running service is stopped first, and one that is
// still starting is given up to `settleMs` to end by itself (it refuses to stop while its start is pending).
// Auto-start services would otherwise start again at the prefix's next boot.
#include <windows.h>

#include <string>

namespace testsupport {

class TestService {
public:
    TestService(const std::wstring& name, const std::wstring& binaryPath, DWORD startType, DWORD settleMs = 20000);
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    const std::wstring& Name() const { return name_; }
    bool Created() const { return service_ != nullptr; }
    // Starts it through the real service control manager and waits until it runs; false when it does not.
    bool StartAndWaitRunning(DWORD timeoutMs = 20000);
    // The current state (SERVICE_RUNNING ...), 0 when it cannot be queried.
    DWORD State() const;
    // Waits until the state is `state`; false after the time-out.
    bool WaitFor(DWORD state, DWORD timeoutMs) const;

private:
    std::wstring name_;
    DWORD settleMs_;
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

}  // namespace testsupport

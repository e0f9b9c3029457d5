#pragma once
// The service control manager and the few kernel calls that the service start's waits make, behind virtual
// operations named after the calls they make. The default object makes the real calls; a failing operation
// leaves its error in the thread's last error, as the real call does. Tests hand in their own.
#include <windows.h>

namespace ServiceHelper {

class ScmAPI {
public:
    virtual ~ScmAPI() = default;

    virtual SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database, DWORD access);
    virtual SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* name, DWORD access);
    virtual BOOL CloseServiceHandle(SC_HANDLE handle);
    virtual BOOL QueryServiceConfigW(SC_HANDLE service, QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed);
    virtual BOOL QueryServiceConfig2W(SC_HANDLE service, DWORD level, BYTE* buffer, DWORD size, DWORD* needed);
    virtual BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, BYTE* buffer, DWORD size,
                                      DWORD* needed);
    virtual BOOL StartServiceW(SC_HANDLE service, DWORD count, const wchar_t** arguments);

    // The waits' clock, their pause, and their watch on the process of a starting service.
    virtual DWORD GetTickCount();
    virtual void Sleep(DWORD milliseconds);
    virtual HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId);
    virtual DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all, DWORD milliseconds);
    virtual BOOL CloseHandle(HANDLE handle);
};

// One service-manager or service handle, closed through the wrapper that opened it.
class ScHandle {
public:
    ScHandle(ScmAPI& api, SC_HANDLE handle) : api_(api), handle_(handle) {}
    ~ScHandle() {
        if (handle_) api_.CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;

    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    ScmAPI& api_;
    SC_HANDLE handle_;
};

}  // namespace ServiceHelper

#pragma once
// The process wrapper of the Orvan libraries: each operation is the Win32 call of the same name with the same
// arguments and result, replaceable by a test (the message-bus client takes its session id through it).
#include <windows.h>
#include <tlhelp32.h>

namespace Orvan {

class ProcessAPI {
public:
    virtual ~ProcessAPI() = default;

    virtual DWORD GetCurrentProcessId();
    virtual DWORD GetProcessId(HANDLE process);
    virtual BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId);
    virtual DWORD WTSGetActiveConsoleSessionId();
    virtual HANDLE GetCurrentProcess();
    // Without application name and current folder (both passed as null).
    virtual BOOL CreateProcessAsUserW(HANDLE token, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                                      LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD creationFlags,
                                      LPVOID environment, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information);
    virtual BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processSecurity, LPSECURITY_ATTRIBUTES threadSecurity,
                                      BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                                      LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                                      LPPROCESS_INFORMATION information);
    virtual BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
    virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD length,
                                       PTOKEN_PRIVILEGES previousState, PDWORD returnLength);
    virtual BOOL LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid);
    virtual BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
    virtual BOOL TerminateProcess(HANDLE process, UINT exitCode);
    virtual BOOL CloseHandle(HANDLE handle);
    virtual DWORD GetLastError();
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
    virtual HANDLE OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId);
    virtual HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
    virtual BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry);
    virtual BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry);
};

}  // namespace Orvan

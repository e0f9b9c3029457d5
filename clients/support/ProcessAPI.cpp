#include "clients/support/ProcessAPI.h"

namespace Orvan {

DWORD ProcessAPI::GetCurrentProcessId() { return ::GetCurrentProcessId(); }
DWORD ProcessAPI::GetProcessId(HANDLE process) { return ::GetProcessId(process); }
BOOL ProcessAPI::ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
    return ::ProcessIdToSessionId(processId, sessionId);
}
DWORD ProcessAPI::WTSGetActiveConsoleSessionId() { return ::WTSGetActiveConsoleSessionId(); }
HANDLE ProcessAPI::GetCurrentProcess() { return ::GetCurrentProcess(); }
BOOL ProcessAPI::CreateProcessAsUserW(HANDLE token, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                                      LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD creationFlags,
                                      LPVOID environment, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
    return ::CreateProcessAsUserW(token, nullptr, commandLine, processSecurity, threadSecurity, inheritHandles,
                                  creationFlags, environment, nullptr, startup, information);
}
BOOL ProcessAPI::CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processSecurity, LPSECURITY_ATTRIBUTES threadSecurity,
                                      BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                                      LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                                      LPPROCESS_INFORMATION information) {
    return ::CreateProcessAsUserW(token, applicationName, commandLine, processSecurity, threadSecurity,
                                  inheritHandles, creationFlags, environment, currentDirectory, startup, information);
}
BOOL ProcessAPI::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    return ::OpenProcessToken(process, access, token);
}
BOOL ProcessAPI::AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD length,
                                       PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
    return ::AdjustTokenPrivileges(token, disableAll, newState, length, previousState, returnLength);
}
BOOL ProcessAPI::LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid) {
    return ::LookupPrivilegeValueW(system, name, luid);
}
BOOL ProcessAPI::GetExitCodeProcess(HANDLE process, LPDWORD exitCode) { return ::GetExitCodeProcess(process, exitCode); }
BOOL ProcessAPI::TerminateProcess(HANDLE process, UINT exitCode) { return ::TerminateProcess(process, exitCode); }
BOOL ProcessAPI::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }
DWORD ProcessAPI::GetLastError() { return ::GetLastError(); }
DWORD ProcessAPI::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(handle, milliseconds);
}
HANDLE ProcessAPI::OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId) {
    return ::OpenProcess(access, inheritHandle, processId);
}
HANDLE ProcessAPI::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
    return ::CreateToolhelp32Snapshot(flags, processId);
}
BOOL ProcessAPI::Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) { return ::Process32FirstW(snapshot, entry); }
BOOL ProcessAPI::Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) { return ::Process32NextW(snapshot, entry); }

}  // namespace Orvan

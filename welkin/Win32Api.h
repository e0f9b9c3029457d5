#pragma once
// System functions that welkin needs beyond its imports, bound by name at run time from libraries loaded out of the
// System folder. A name that a module does not export leaves its pointer null; binding never fails.
#include <windows.h>
#include <wtsapi32.h>

// Knows whether the system is of the Windows NT platform.
class CQzWin32APIBase {
public:
    CQzWin32APIBase();
    virtual ~CQzWin32APIBase() = default;
    BOOL IsNTPlatform() const { return isNT_; }

private:
    BOOL isNT_ = FALSE;
};

class CQzWin32API : public CQzWin32APIBase {
public:
    CQzWin32API() = default;
    ~CQzWin32API() override;
    CQzWin32API(const CQzWin32API&) = delete;
    CQzWin32API& operator=(const CQzWin32API&) = delete;

    // Binds the table once; 1 whether or not every function was found.
    int LoadFunctions();
    // Loads "<System folder><fileName>" (the name starts with a backslash) into the slot unless it holds a module.
    int LoadSystemModule(HMODULE* slot, const wchar_t* fileName);

    HMODULE advapi32 = nullptr;
    HMODULE wtsapi32 = nullptr;
    HMODULE kernel32 = nullptr;
    HMODULE user32 = nullptr;
    HMODULE psapi = nullptr;
    DWORD bound = 0;

    decltype(&::StartServiceCtrlDispatcherW) StartServiceCtrlDispatcherW = nullptr;
    decltype(&::RegisterServiceCtrlHandlerExW) RegisterServiceCtrlHandlerExW = nullptr;
    decltype(&::SetServiceStatus) SetServiceStatus = nullptr;
    decltype(&::OpenSCManagerW) OpenSCManagerW = nullptr;
    decltype(&::CloseServiceHandle) CloseServiceHandle = nullptr;
    decltype(&::CreateServiceW) CreateServiceW = nullptr;
    decltype(&::OpenServiceW) OpenServiceW = nullptr;
    decltype(&::ControlService) ControlService = nullptr;
    decltype(&::DeleteService) DeleteService = nullptr;
    decltype(&::ChangeServiceConfigW) ChangeServiceConfigW = nullptr;
    decltype(&::CreateProcessAsUserW) CreateProcessAsUserW = nullptr;
    decltype(&::OpenProcessToken) OpenProcessToken = nullptr;
    decltype(&::LookupPrivilegeValueW) LookupPrivilegeValueW = nullptr;
    decltype(&::AdjustTokenPrivileges) AdjustTokenPrivileges = nullptr;
    decltype(&::WTSQueryUserToken) WTSQueryUserToken = nullptr;
    decltype(&::WTSQuerySessionInformationW) WTSQuerySessionInformation = nullptr;
    decltype(&::WTSEnumerateSessionsW) WTSEnumerateSessionsW = nullptr;
    decltype(&::WTSGetActiveConsoleSessionId) WTSGetActiveConsoleSessionId = nullptr;
    decltype(&::WTSFreeMemory) WTSFreeMemory = nullptr;
    decltype(&::WTSEnumerateProcessesW) WTSEnumerateProcessesW = nullptr;
    decltype(&::ProcessIdToSessionId) ProcessIdToSessionId = nullptr;
    DWORD(WINAPI* RegisterServiceProcess)(DWORD, DWORD) = nullptr;
    decltype(&::OpenDesktopW) OpenDesktopW = nullptr;
    decltype(&::GetUserObjectInformationW) GetUserObjectInformationW = nullptr;
    decltype(&::GetProcessWindowStation) GetProcessWindowStation = nullptr;
    decltype(&::SetProcessWindowStation) SetProcessWindowStation = nullptr;
    decltype(&::CloseWindowStation) CloseWindowStation = nullptr;
    decltype(&::OpenWindowStationW) OpenWindowStationW = nullptr;
    BOOL(WINAPI* EnumProcesses)(DWORD*, DWORD, DWORD*) = nullptr;
    BOOL(WINAPI* EnumProcessModules)(HANDLE, HMODULE*, DWORD, DWORD*) = nullptr;
    DWORD(WINAPI* GetModuleBaseNameW)(HANDLE, HMODULE, LPWSTR, DWORD) = nullptr;
    decltype(&::QueryServiceStatus) QueryServiceStatus = nullptr;
    decltype(&::StartServiceW) StartServiceW = nullptr;

private:
    void FreeModules();
};

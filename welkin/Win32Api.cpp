#include "welkin/Win32Api.h"

#include <initializer_list>

#include "foundation/basalt/ProcAddress.h"
#include "foundation/basalt/SystemLibrary.h"

CQzWin32APIBase::CQzWin32APIBase() {
    OSVERSIONINFOEXW extended = {};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) {
        isNT_ = extended.dwPlatformId == VER_PLATFORM_WIN32_NT;
        return;
    }
    OSVERSIONINFOW basic = {};
    basic.dwOSVersionInfoSize = sizeof basic;
    isNT_ = GetVersionExW(&basic) && basic.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

CQzWin32API::~CQzWin32API() { FreeModules(); }

void CQzWin32API::FreeModules() {
    for (HMODULE* slot : {&advapi32, &wtsapi32, &kernel32, &user32, &psapi}) {
        if (*slot) FreeLibrary(*slot);
        *slot = nullptr;
    }
}

int CQzWin32API::LoadSystemModule(HMODULE* slot, const wchar_t* fileName) {
    if (!slot || !fileName) return 0;
    if (*slot) return 1;
    *slot = LoadSystemLibrary(fileName[0] == L'\\' ? fileName + 1 : fileName);
    return *slot ? 1 : 0;
}

int CQzWin32API::LoadFunctions() {
    if (bound) return 1;
    FreeModules();
    LoadSystemModule(&kernel32, L"\\kernel32.dll");
    LoadSystemModule(&advapi32, L"\\advapi32.dll");
    LoadSystemModule(&wtsapi32, L"\\wtsapi32.dll");
    LoadSystemModule(&user32, L"\\user32.dll");
    LoadSystemModule(&psapi, L"\\psapi.dll");

#define BIND(module, name) name = Basalt::GetProcAddressAs<decltype(name)>(module, #name)
    BIND(kernel32, RegisterServiceProcess);
    BIND(kernel32, ProcessIdToSessionId);
    BIND(kernel32, WTSGetActiveConsoleSessionId);

    BIND(advapi32, StartServiceCtrlDispatcherW);
    BIND(advapi32, RegisterServiceCtrlHandlerExW);
    BIND(advapi32, SetServiceStatus);
    BIND(advapi32, OpenSCManagerW);
    BIND(advapi32, CloseServiceHandle);
    BIND(advapi32, CreateServiceW);
    BIND(advapi32, OpenServiceW);
    BIND(advapi32, ControlService);
    BIND(advapi32, DeleteService);
    BIND(advapi32, ChangeServiceConfigW);
    BIND(advapi32, CreateProcessAsUserW);
    BIND(advapi32, OpenProcessToken);
    BIND(advapi32, LookupPrivilegeValueW);
    BIND(advapi32, AdjustTokenPrivileges);
    BIND(advapi32, QueryServiceStatus);
    BIND(advapi32, StartServiceW);

    BIND(user32, OpenDesktopW);
    BIND(user32, GetUserObjectInformationW);
    BIND(user32, GetProcessWindowStation);
    BIND(user32, SetProcessWindowStation);
    BIND(user32, CloseWindowStation);
    BIND(user32, OpenWindowStationW);

    BIND(psapi, EnumProcesses);
    BIND(psapi, EnumProcessModules);
    BIND(psapi, GetModuleBaseNameW);

    BIND(wtsapi32, WTSQueryUserToken);
    BIND(wtsapi32, WTSEnumerateSessionsW);
    BIND(wtsapi32, WTSFreeMemory);
    BIND(wtsapi32, WTSEnumerateProcessesW);
#undef BIND
    // The exported name of the session query carries its character-set suffix.
    WTSQuerySessionInformation =
        Basalt::GetProcAddressAs<decltype(WTSQuerySessionInformation)>(wtsapi32, "WTSQuerySessionInformationW");

    bound = 1;
    return 1;
}

#pragma once
// The suite's service manager as welkin calls it: the library RVXAAPI.DLL exports QzDllGetClassObject, which hands
// out the object named by the interface name ("IServiceManager") and returns 0 on success. The object starts the
// services of a host group within a time-out and is released once after use. The test double implements the same
// layout.
#include <windows.h>

struct IServiceManager {
    // The service manager's own result code.
    virtual DWORD STDMETHODCALLTYPE StartServicesByHost(const wchar_t* hostGroup, DWORD timeoutMs) = 0;
    virtual void STDMETHODCALLTYPE Release() = 0;

protected:
    ~IServiceManager() = default;
};

using QzDllGetClassObjectFn = DWORD(WINAPI*)(const wchar_t* interfaceName, void** object);

inline constexpr char kQzDllGetClassObjectExport[] = "QzDllGetClassObject";
inline constexpr wchar_t kServiceManagerInterface[] = L"IServiceManager";

#pragma once
// The post-OOBE service start that closes every welkin start. When HKLM "SOFTWARE\Torvex\RVXAHOST" "Enable" (64-bit
// view) is non-zero, the suite's service manager (RVXAAPI.DLL from that key's "szInstallDir64", loaded only after
// the module trust check) is asked to start the host group "KESTRO"; otherwise each Windows service that the
// service-host configuration lists is started in turn. Results are logged only: nothing here fails its caller.
#include <windows.h>

#include <memory>
#include <string>

#include "welkin/ServiceHelper.h"
#include "welkin/ServiceManagerApi.h"

// The service manager's object and the library that made it. Releasing the holder releases the object first, then
// frees the library.
class ServiceManagerHolder {
public:
    ServiceManagerHolder() = default;
    ~ServiceManagerHolder() { Reset(); }
    ServiceManagerHolder(const ServiceManagerHolder&) = delete;
    ServiceManagerHolder& operator=(const ServiceManagerHolder&) = delete;

    // Takes both; whatever was held before is released.
    void Reset(IServiceManager* object = nullptr, HMODULE module = nullptr);
    IServiceManager* Get() const { return object_; }

private:
    IServiceManager* object_ = nullptr;
    HMODULE module_ = nullptr;
};

// "<szInstallDir64>\RVXAAPI.DLL" loaded and asked for its service-manager object. 0 with the holder filled; 13 the
// folder value is not a string; 206 the path would exceed 260 characters; 632 the library answered success without
// an object; otherwise the registry, trust, load or export error, or the library's own refusal.
DWORD CreateServiceManager(ServiceManagerHolder& holder);

class CQzStartServices {
public:
    // An empty wrapper means the real service control manager.
    explicit CQzStartServices(std::shared_ptr<ServiceHelper::ScmAPI> scm = {});

    void StartAllOobeServices();
    // The service manager's result, or the error that kept it from being asked.
    DWORD StartAllRVXAOobeServices();
    // Every listed service is tried, whatever the one before gave. Always 0.
    DWORD StartAllWin32OobeServices();
    // 0 once the outcome is logged; 1359 when the service control manager cannot be opened.
    DWORD startService(const std::wstring& name);

private:
    std::shared_ptr<ServiceHelper::ScmAPI> scm_;
};

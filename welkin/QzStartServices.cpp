#include "welkin/QzStartServices.h"

#include <list>

#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/ProcAddress.h"
#include "foundation/logging/LogStream.h"
#include "welkin/QzConfigStore.h"
#include "welkin/TrustedModule.h"

using ETWLogging::kSeverityError;
using ETWLogging::kSeverityInformation;
using ETWLogging::kSeverityNormal;

namespace {

constexpr wchar_t kHostKey[] = L"SOFTWARE\\Torvex\\RVXAHOST";
constexpr wchar_t kHostGroup[] = L"KESTRO";
constexpr DWORD kHostTimeoutMs = 5000;
constexpr wchar_t kLibraryTail[] = L"\\RVXAAPI.DLL";
constexpr DWORD kFolderBytes = 520;
constexpr DWORD kNoObject = 632;  // ERROR_NOINTERFACE: success without an object

// One value of the host key, read in the 64-bit view; the registry's code.
LONG ReadHostValue(const wchar_t* name, DWORD& type, void* data, DWORD& size) {
    Basalt::RegistryKey key;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHostKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Receive());
    if (opened != ERROR_SUCCESS) return opened;
    return RegQueryValueExW(key.Get(), name, nullptr, &type, static_cast<BYTE*>(data), &size);
}

bool IsServiceHostEnabled() {
    DWORD type = REG_NONE, value = 0, size = sizeof value;
    return ReadHostValue(L"Enable", type, &value, size) == ERROR_SUCCESS && type == REG_DWORD &&
           size == sizeof value && value != 0;
}

void WriteFreshInstallComplete() {
    Basalt::RegistryKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHostKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                        key.Receive(), nullptr) != ERROR_SUCCESS)
        return;
    const DWORD one = 1;
    RegSetValueExW(key.Get(), L"FreshInstallComplete", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
}

DWORD LibraryPath(std::wstring& path) {
    wchar_t folder[kFolderBytes / sizeof(wchar_t) + 1] = {};
    DWORD type = REG_NONE, size = kFolderBytes;
    if (const LONG read = ReadHostValue(L"szInstallDir64", type, folder, size)) return static_cast<DWORD>(read);
    if (type != REG_SZ) return ERROR_INVALID_DATA;
    folder[size / sizeof(wchar_t)] = L'\0';
    path = folder;
    if (size > 4 && !path.empty() && path.back() == L'\\') path.pop_back();
    path += kLibraryTail;
    // A shortened path would name another file than the one judged and loaded.
    return path.size() < MAX_PATH ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

HMODULE LoadFromItsFolder(const wchar_t* path) {
    HMODULE module = nullptr;
    for (DWORD flags : {0x800u, 0x900u, 0xB00u})
        if ((module = LoadLibraryExW(path, nullptr, flags))) break;
    return module;
}

}  // namespace

void ServiceManagerHolder::Reset(IServiceManager* object, HMODULE module) {
    if (object_) object_->Release();
    if (module_) FreeLibrary(module_);
    object_ = object;
    module_ = module;
}

DWORD CreateServiceManager(ServiceManagerHolder& holder) {
    std::wstring path;
    if (const DWORD error = LibraryPath(path)) return error;
    HMODULE loaded = nullptr;
    if (const DWORD error = LoadTrustedModule(path, LoadFromItsFolder, loaded)) return error;
    const auto create = Basalt::GetProcAddressAs<QzDllGetClassObjectFn>(loaded, kQzDllGetClassObjectExport);
    void* object = nullptr;
    DWORD result = ERROR_SUCCESS;
    if (!create) {
        result = GetLastError();
        if (!result) result = ERROR_PROC_NOT_FOUND;
    } else if ((result = create(kServiceManagerInterface, &object)) == ERROR_SUCCESS && !object) {
        result = kNoObject;
    }
    if (result != ERROR_SUCCESS) {
        FreeLibrary(loaded);
        return result;
    }
    holder.Reset(static_cast<IServiceManager*>(object), loaded);
    return ERROR_SUCCESS;
}

CQzStartServices::CQzStartServices(std::shared_ptr<ServiceHelper::ScmAPI> scm)
    : scm_(scm ? std::move(scm) : std::make_shared<ServiceHelper::ScmAPI>()) {}

void CQzStartServices::StartAllOobeServices() {
    if (IsServiceHostEnabled())
        StartAllRVXAOobeServices();
    else
        StartAllWin32OobeServices();
}

DWORD CQzStartServices::StartAllRVXAOobeServices() {
    WriteFreshInstallComplete();
    ServiceManagerHolder manager;
    DWORD result = CreateServiceManager(manager);
    if (result != ERROR_SUCCESS) {
        LOG_AT(kSeverityError, L"Failed to call sm.CreateObject: lRet = %d", static_cast<int>(result));
        return result;
    }
    result = manager.Get()->StartServicesByHost(kHostGroup, kHostTimeoutMs);
    LOG_AT(kSeverityInformation, L"Called sm->StartServicesByHost: lRet = %d", static_cast<int>(result));
    manager.Reset();
    return result;
}

DWORD CQzStartServices::StartAllWin32OobeServices() {
    std::list<std::wstring> services;
    {
        const CQzConfigStore store(true);
        store.getServiceList(services);
    }
    for (const std::wstring& name : services) {
        LOG_AT(kSeverityNormal, L"Starting Service: %s", name.c_str());
        startService(name);
    }
    return ERROR_SUCCESS;
}

DWORD CQzStartServices::startService(const std::wstring& name) {
    const ServiceHelper::ScHandle manager(*scm_, scm_->OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW,
                                                                      SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        LOG_AT(kSeverityError, L"Failed to open SCM handle....");
        return ERROR_INTERNAL_ERROR;
    }
    ServiceHelper::CServiceHelper helper(scm_);
    const DWORD result = helper.StartServiceByName(manager.Get(), name.c_str(), nullptr, true);
    switch (result) {
    case ERROR_SUCCESS:
        LOG_AT(kSeverityInformation, L"Successfully started the service: %s", name.c_str());
        break;
    case ERROR_SERVICE_DOES_NOT_EXIST:
        LOG_AT(kSeverityNormal, L"Service does not exist ... service:%s", name.c_str());
        break;
    case ERROR_INVALID_NAME:
        LOG_AT(kSeverityNormal, L"Service is not auto start service ... service:%s", name.c_str());
        break;
    case ERROR_ALREADY_EXISTS:
        LOG_AT(kSeverityNormal, L"Service is already running ... service:%s", name.c_str());
        break;
    default:
        LOG_AT(kSeverityError, L"Failed to start the service :%s Error:%lu", name.c_str(), result);
    }
    return ERROR_SUCCESS;
}

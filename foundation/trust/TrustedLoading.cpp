#include "foundation/trust/TrustedLoading.h"

#include <objbase.h>

#include <algorithm>
#include <new>
#include <vector>

#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/Format.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/ProcAddress.h"
#include "foundation/trust/ModulePath.h"
#include "foundation/trust/ModuleTrust.h"

HMODULE TrustedLoadLibraryEx(const wchar_t* path, DWORD flags) {
    // A relative path is judged against the current folder but may be loaded from anywhere on the search path, and
    // a file name without an extension is loaded with ".dll" appended.
    if (path && !IsExactModulePath(path)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return nullptr;
    }
    const DWORD code = VerifyModuleTrust(path);
    if (code != 0) {
        SetLastError(code);
        return nullptr;
    }
    return LoadLibraryExW(path, nullptr, flags);
}

namespace {

class FactoryRef {
public:
    ~FactoryRef() {
        if (factory_) factory_->Release();
    }
    void** Receive() { return reinterpret_cast<void**>(&factory_); }
    ITrustedClassFactory* Get() const { return factory_; }
    void Reset() {
        if (factory_) factory_->Release();
        factory_ = nullptr;
    }

private:
    ITrustedClassFactory* factory_ = nullptr;
};

HRESULT GetTrustedFactory(REFCLSID clsid, DWORD context, FactoryRef& factory) {
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, kTrustedFactoryIid, factory.Receive());
    if (FAILED(hr)) {
        factory.Reset();
        hr = CoGetClassObject(clsid, context, nullptr, kTrustedFactoryIid2, factory.Receive());
        if (FAILED(hr)) factory.Reset();
    }
    if (SUCCEEDED(hr) && !factory.Get()) hr = E_NOINTERFACE;
    return hr;
}

}  // namespace

HRESULT TrustedCoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out,
                                BOOL checkModule) {
    ComServerJudgement judgement;
    return TrustedCoCreateInstance(clsid, outer, context, iid, out, checkModule, judgement);
}

HRESULT TrustedCoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out,
                                BOOL checkModule, ComServerJudgement& judgement) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!checkModule) return CoCreateInstance(clsid, outer, context, iid, out);
    if (judgement.JudgeRegistration(clsid, context) != 0) return E_ACCESSDENIED;
    // Each interface COM is asked for may be marshalled from another apartment, with code COM loads for it, and so
    // is COM's own interface for reaching an object there.
    for (const IID* asked : {&kTrustedFactoryIid, &kTrustedFactoryIid2, &iid, &kRemUnknownIid})
        if (judgement.JudgeProxyStub(*asked) != 0) return E_ACCESSDENIED;
    FactoryRef factory;
    const HRESULT hr = GetTrustedFactory(clsid, context, factory);
    if (FAILED(hr)) return hr;
    // The module that holds the factory's code must be trusted too: COM may serve the class from another module
    // than the registration names. The server judged above is not judged again.
    if (judgement.JudgeFactory(factory.Get()) != 0) return E_ACCESSDENIED;
    return factory.Get()->Create(iid, out);
}

HRESULT CoCreateInstanceViaFactory(REFCLSID clsid, IUnknown*, DWORD context, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    FactoryRef factory;
    const HRESULT hr = GetTrustedFactory(clsid, context, factory);
    if (FAILED(hr)) return hr;
    return factory.Get()->Create(iid, out);
}

DWORD GetModulePathFromAddress(const void* address, wchar_t* out) {
    if (!address || !out) return ERROR_INVALID_PARAMETER;
    // The loader's own answer for this process: walking the module list from outside costs tens of milliseconds a
    // call under Wine. The reference keeps the module while its name is read.
    HMODULE holder = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<const wchar_t*>(address), &holder))
        return ERROR_ACCESS_DENIED;
    const Basalt::LoadedModule module(holder);
    // Room for one more character: a name that fills the caller's buffer was cut, and a cut path may name another
    // file.
    wchar_t name[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(module.Get(), name, MAX_PATH + 1);
    if (length == 0 || length >= MAX_PATH) return ERROR_ACCESS_DENIED;
    wmemcpy(out, name, length + 1);
    return ERROR_SUCCESS;
}

DWORD VerifyModuleOfAddress(const void* address) {
    wchar_t path[MAX_PATH] = {};
    return VerifyModuleTrust(GetModulePathFromAddress(address, path) == 0 ? path : nullptr);
}

bool GetDunmoreInstallDir(bool wow32, const wchar_t* append, wchar_t* buffer, DWORD capacity) {
    if (!buffer || capacity == 0) return false;
    Basalt::RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Torvex\\Dunmore", 0, KEY_READ | KEY_WOW64_64KEY,
                      key.Receive()) != ERROR_SUCCESS)
        return false;
    DWORD size = capacity * sizeof(wchar_t);
    DWORD type = 0;
    const bool read = RegQueryValueExW(key.Get(), wow32 ? L"szInstallDir32" : L"szInstallDir64", nullptr, &type,
                                       reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
    if (read) {
        // The stored text need not be terminated.
        const size_t stored = std::min<size_t>(size / sizeof(wchar_t), capacity - 1);
        buffer[stored] = L'\0';
        buffer[capacity - 1] = L'\0';
        size_t length = wcslen(buffer);
        if (length + 1 < capacity) {
            buffer[length++] = L'\\';
            buffer[length] = L'\0';
        }
        if (append && length + wcslen(append) < capacity) wcscat(buffer, append);
    }
    return read;
}

FileTrustVerification::FileTrustVerification(std::wstring path) : path_(std::move(path)) {
    file_.cbStruct = sizeof(file_);
    file_.pcwszFilePath = path_.c_str();
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &file_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
}

FileTrustVerification::~FileTrustVerification() {
    if (!done_) return;
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
}

LONG FileTrustVerification::Verify() {
    if (done_) return result_;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    result_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
    done_ = true;
    return result_;
}

LONG VerifyFileTrust(FileTrustVerification& record) { return record.Verify(); }

namespace {

bool AllowsLoading(LONG result) {
    return result == 0 || result == CRYPT_E_SECURITY_SETTINGS || result == CERT_E_EXPIRED ||
           result == CERT_E_REVOCATION_FAILURE;
}

// Judges load.path with a fresh record and loads it when the verdict allows. Returns the verdict.
LONG JudgeAndLoad(SiblingLoad& load) {
    // The file judged must be the file loaded: a relative path may be loaded from elsewhere than where it was judged,
    // and a file name without an extension with ".dll" appended.
    if (!IsExactModulePath(load.path)) return ERROR_BAD_PATHNAME;
    FileTrustVerification record(load.path);
    const LONG result = VerifyFileTrust(record);
    if (AllowsLoading(result)) load.module = LoadLibraryExW(load.path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return result;
}

bool FolderOfModule(HMODULE module, std::wstring& folder) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return false;
        if (length < buffer.size()) {
            folder.assign(buffer.data(), length);
            const size_t slash = folder.find_last_of(L"\\/");
            folder.resize(slash == std::wstring::npos ? 0 : slash + 1);
            return true;
        }
        buffer.resize(buffer.size() * 8);
    }
    return false;
}

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

}  // namespace

DWORD LoadSignedSiblingDll(SiblingLoad& load) {
    try {
        load.module = nullptr;
        if (load.name.size() >= MAX_PATH) return ERROR_INVALID_PARAMETER;
        const bool fullPath = load.name.size() < 3 || load.name[0] == L'\\' || load.name[1] == L':';
        LONG result = ERROR_FILE_NOT_FOUND;
        wchar_t installed[MAX_PATH + 2] = {};
        // Without the install folder only the fallback module's folder is tried: the bare name is never resolved
        // against the current directory or the search path.
        if (fullPath || GetDunmoreInstallDir(false, load.name.c_str(), installed, MAX_PATH + 2)) {
            load.path = fullPath ? load.name : installed;
            result = JudgeAndLoad(load);
            if (AllowsLoading(result)) return ERROR_SUCCESS;
        }
        if (!fullPath && (result == ERROR_FILE_NOT_FOUND || result == CRYPT_E_FILE_ERROR)) {
            OutputDebugStringW(L"NotComDllGetInterface: DLL not found in install location, looking in current directory\n");
            std::wstring folder;
            if (!FolderOfModule(load.fallbackModule, folder)) return ERROR_NOT_ENOUGH_MEMORY;
            load.path = folder + load.name;
            result = JudgeAndLoad(load);
            if (AllowsLoading(result)) return ERROR_SUCCESS;
        }
        const std::wstring program = ProgramPath();
        OutputDebugStringW(Basalt::Format(L"NotComDllGetInterface: %s loading %s, WinVerifyTrust failed with %08x\n",
                                          program.c_str(), load.path.c_str(), static_cast<unsigned>(result))
                               .c_str());
        return static_cast<DWORD>(result);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD GetInterfaceFromSignedDll(const wchar_t* library, const char* interfaceName, void** out, HMODULE fallback) {
    if (!library || !interfaceName || !out) return ERROR_INVALID_PARAMETER;
    SiblingLoad load;
    try {
        load.name = library;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    load.fallbackModule = fallback;
    const DWORD code = LoadSignedSiblingDll(load);
    if (code != 0) return code;
    *out = nullptr;
    if (!load.module) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_FILE_NOT_FOUND;
    }
    const Basalt::LoadedModule module(load.module);
    using GetInterfaceFn = DWORD (*)(const char*, void**);
    if (auto getInterface = Basalt::GetProcAddressAs<GetInterfaceFn>(module.Get(), "NotComDllGetInterface"))
        return getInterface(interfaceName, out);
    return GetLastError();
}

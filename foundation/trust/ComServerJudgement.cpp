#include "foundation/trust/ComServerJudgement.h"

#include <objbase.h>

#include <algorithm>
#include <new>

#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/RegKey.h"
#include "foundation/trust/MarshalerTypeLibrary.h"
#include "foundation/trust/ModulePath.h"
#include "foundation/trust/ModuleTrust.h"
#include "foundation/trust/TrustedLoading.h"

namespace {

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool Expand(const std::wstring& text, std::wstring& expanded) {
    const DWORD length = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (length == 0) return false;
    expanded.assign(length, L'\0');
    if (ExpandEnvironmentStringsW(text.c_str(), expanded.data(), length) != length) return false;
    expanded.resize(length - 1);
    return true;
}

// COM takes a path given in one pair of double quotes without them.
std::wstring Unquoted(const std::wstring& text) {
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') return text.substr(1, text.size() - 2);
    return text;
}

// The files COM may load for the stored text: the expanded one of REG_EXPAND_SZ; the literal one of REG_SZ, and its
// expanded one too where COM may expand it. False when a reading cannot be made.
bool ReadingsOf(const std::wstring& stored, DWORD type, std::vector<std::wstring>& readings) {
    std::wstring expanded;
    if (type == REG_EXPAND_SZ) {
        if (!Expand(stored, expanded)) return false;
        readings.push_back(Unquoted(expanded));
        return true;
    }
    readings.push_back(Unquoted(stored));
    if (stored.find(L'%') != std::wstring::npos) {
        if (!Expand(stored, expanded)) return false;
        if (!SamePath(Unquoted(expanded), readings.front())) readings.push_back(Unquoted(expanded));
    }
    return true;
}

std::wstring ClassKey(REFCLSID clsid) {
    wchar_t text[40] = {};
    if (!StringFromGUID2(clsid, text, 40)) return std::wstring();
    return std::wstring(L"CLSID\\") + text;
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// Whether the file the loader opens for the path lies directly in the System folder: "." and ".." steps and "/" are
// resolved first, as the loader resolves them, so "<System>\../x.dll" is not in it.
bool InSystemFolder(const std::wstring& path) {
    const std::wstring system = SystemFolder();
    wchar_t full[MAX_PATH + 1] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, nullptr);
    if (system.empty() || length == 0 || length >= MAX_PATH) return false;
    const std::wstring resolved(full, length);
    const size_t slash = resolved.find_last_of(L'\\');
    return slash != std::wstring::npos && SamePath(resolved.substr(0, slash), system);
}

// A name the loader looks up among the modules already loaded before it searches any folder.
bool IsBareName(const std::wstring& path) { return path.find_first_of(L"\\/:") == std::wstring::npos; }

// The platform's type-library marshaler, by its two classes: they marshal an interface from its type library (IDispatch
// itself by the platform's own proxy).
constexpr CLSID kTypeLibraryMarshalerClsid = {0x00020424, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr CLSID kDispatchMarshalerClsid = {0x00020420, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

bool MarshalsFromTypeLibrary(REFCLSID proxyStub) {
    return IsEqualCLSID(proxyStub, kTypeLibraryMarshalerClsid) || IsEqualCLSID(proxyStub, kDispatchMarshalerClsid);
}

}  // namespace

DWORD ComServerJudgement::JudgeRegistration(REFCLSID clsid, DWORD context) {
    return JudgeChain(clsid, context, nullptr);
}

DWORD ComServerJudgement::JudgeProxyStub(REFIID iid) {
    try {
        std::vector<IID> chain;
        int budget = kMaxMarshaledInterfaces;
        return JudgeMarshaling(iid, chain, budget);
    } catch (const std::bad_alloc&) {
        return ERROR_ACCESS_DENIED;
    }
}

DWORD ComServerJudgement::JudgeMarshaling(REFIID iid, std::vector<IID>& chain, int& budget) {
    // A loop, or more interfaces than any derivation means, is refused.
    if (--budget < 0 ||
        std::any_of(chain.begin(), chain.end(), [&](const IID& known) { return IsEqualIID(known, iid); }))
        return ERROR_ACCESS_DENIED;
    CLSID proxyStub = GUID_NULL;
    const HRESULT hr = CoGetPSClsid(iid, &proxyStub);
    // COM cannot marshal such an interface at all, or marshals nothing outside an apartment: it loads nothing for it.
    if (hr == REGDB_E_IIDNOTREG || hr == CO_E_NOTINITIALIZED) return ERROR_SUCCESS;
    if (FAILED(hr)) return ERROR_ACCESS_DENIED;
    bool fromTypeLibrary = false;
    if (const DWORD code = JudgeChain(proxyStub, CLSCTX_INPROC_SERVER, &fromTypeLibrary)) return code;
    if (!fromTypeLibrary || IsEqualIID(iid, IID_IDispatch)) return ERROR_SUCCESS;
    // The marshaler brings in each interface this one derives from, each through its own proxy/stub.
    std::vector<IID> bases;
    if (FAILED(ReadMarshalerBaseInterfaces(iid, bases))) return ERROR_ACCESS_DENIED;
    chain.push_back(iid);
    for (const IID& base : bases)
        if (!IsEqualIID(base, IID_IUnknown))
            if (const DWORD code = JudgeMarshaling(base, chain, budget)) return code;
    chain.pop_back();
    return ERROR_SUCCESS;
}

DWORD ComServerJudgement::JudgeChain(REFCLSID clsid, DWORD context, bool* fromTypeLibrary) {
    try {
        CLSID current = clsid;
        for (int hops = 0;; ++hops) {
            if (const DWORD code = JudgeClass(current, context)) return code;
            if (fromTypeLibrary && MarshalsFromTypeLibrary(current)) *fromTypeLibrary = true;
            CLSID next = GUID_NULL;
            const HRESULT hr = CoGetTreatAsClass(current, &next);
            if (hr == S_FALSE) return ERROR_SUCCESS;
            // A chain longer than COM could mean is refused, and with it every loop.
            if (hr != S_OK || hops == kMaxTreatAsHops) return ERROR_ACCESS_DENIED;
            current = next;
        }
    } catch (const std::bad_alloc&) {
        // Not judged is not trusted.
        return ERROR_ACCESS_DENIED;
    }
}

DWORD ComServerJudgement::JudgeClass(REFCLSID clsid, DWORD context) {
    const std::wstring key = ClassKey(clsid);
    if (key.empty()) return ERROR_INVALID_PARAMETER;
    if (context & CLSCTX_INPROC_SERVER)
        if (const DWORD code = JudgeServerKey(key + L"\\InprocServer32")) return code;
    if (context & CLSCTX_INPROC_HANDLER)
        if (const DWORD code = JudgeServerKey(key + L"\\InprocHandler32")) return code;
    return ERROR_SUCCESS;
}

// Once loaded, a server's DllMain and DllGetClassObject have already run in this process: it is judged first.
DWORD ComServerJudgement::JudgeServerKey(const std::wstring& key) {
    Basalt::CRegKey server;
    LONG status = server.Open(HKEY_CLASSES_ROOT, key.c_str(), KEY_READ);
    DWORD type = REG_NONE;
    ULONG size = 0;
    if (status == ERROR_SUCCESS) status = server.QueryValue(nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    std::wstring stored;
    if (status == ERROR_SUCCESS) status = server.QueryStringValue(nullptr, stored);
    std::vector<std::wstring> readings;
    if (status != ERROR_SUCCESS || !ReadingsOf(stored, type, readings)) return ERROR_ACCESS_DENIED;
    for (const std::wstring& path : readings)
        if (const DWORD code = JudgeReading(path)) return code;
    return ERROR_SUCCESS;
}

DWORD ComServerJudgement::JudgeReading(const std::wstring& path) {
    // COM may take a file name from between quotes anywhere in the text; what remains of such a text is not judged.
    if (path.find(L'"') != std::wstring::npos) return ERROR_ACCESS_DENIED;
    if (!HasFileExtension(path) || (!IsBareName(path) && !IsExactModulePath(path))) return ERROR_ACCESS_DENIED;
    if (WasJudged(path) || HoldLoadedPlatformModule(path)) return ERROR_SUCCESS;
    // A bare name may be found anywhere on the search path: only a module already loaded is known.
    if (IsBareName(path)) return ERROR_ACCESS_DENIED;
    if (const DWORD code = VerifyModuleTrust(path.c_str())) return code;
    judged_.push_back(path);
    return ERROR_SUCCESS;
}

// A platform module may run what the registration names (a script, an assembly) once it is loaded for it: it passes
// unjudged only when the loader already holds it, loaded from the System folder, and so hands it back without
// running anything new. Held until this object goes, so that the loader still has it when COM asks for it.
bool ComServerJudgement::HoldLoadedPlatformModule(const std::wstring& path) {
    HMODULE found = nullptr;
    if (!GetModuleHandleExW(0, path.c_str(), &found)) return false;
    Basalt::LoadedModule module(found);
    if (!InSystemFolder(Basalt::ModuleFilePath(module.Get()))) return false;
    platformModules_.push_back(std::move(module));
    return true;
}

bool ComServerJudgement::WasJudged(const std::wstring& path) const {
    return std::any_of(judged_.begin(), judged_.end(),
                       [&](const std::wstring& known) { return SamePath(known, path); });
}

DWORD ComServerJudgement::JudgeObject(IUnknown* object) const { return JudgeCodeModule(object, true); }

DWORD ComServerJudgement::JudgeFactory(IUnknown* factory) const { return JudgeCodeModule(factory, false); }

DWORD ComServerJudgement::JudgeCodeModule(IUnknown* object, bool systemFolderPasses) const {
    if (!object) return ERROR_INVALID_PARAMETER;
    try {
        void* const* table = *reinterpret_cast<void* const* const*>(object);
        wchar_t path[MAX_PATH] = {};
        if (GetModulePathFromAddress(table[0], path) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
        const std::wstring file(path);
        if ((systemFolderPasses && InSystemFolder(file)) || WasJudged(file)) return ERROR_SUCCESS;
        return VerifyModuleTrust(file.c_str());
    } catch (const std::bad_alloc&) {
        return ERROR_ACCESS_DENIED;
    }
}

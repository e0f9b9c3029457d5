#include "foundation/trust/ComServerJudgement.h"

#include <objbase.h>

#include <algorithm>
#include <new>

#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/RegKey.h"
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

}  // namespace

DWORD ComServerJudgement::JudgeRegistration(REFCLSID clsid, DWORD context) {
    return JudgeChain(clsid, context, false);
}

DWORD ComServerJudgement::JudgeProxyStub(REFIID iid) {
    CLSID proxyStub = GUID_NULL;
    const HRESULT hr = CoGetPSClsid(iid, &proxyStub);
    // COM cannot marshal such an interface at all, or marshals nothing outside an apartment: it loads nothing for it.
    if (hr == REGDB_E_IIDNOTREG || hr == CO_E_NOTINITIALIZED) return ERROR_SUCCESS;
    if (FAILED(hr)) return ERROR_ACCESS_DENIED;
    return JudgeChain(proxyStub, CLSCTX_INPROC_SERVER, true);
}

DWORD ComServerJudgement::JudgeChain(REFCLSID clsid, DWORD context, bool systemFolderPasses) {
    try {
        CLSID current = clsid;
        for (int hops = 0;; ++hops) {
            if (const DWORD code = JudgeClass(current, context, systemFolderPasses)) return code;
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

DWORD ComServerJudgement::JudgeClass(REFCLSID clsid, DWORD context, bool systemFolderPasses) {
    const std::wstring key = ClassKey(clsid);
    if (key.empty()) return ERROR_INVALID_PARAMETER;
    if (context & CLSCTX_INPROC_SERVER)
        if (const DWORD code = JudgeServerKey(key + L"\\InprocServer32", systemFolderPasses)) return code;
    if (context & CLSCTX_INPROC_HANDLER)
        // The platform's handlers (its default handler above all) lie in the System folder.
        if (const DWORD code = JudgeServerKey(key + L"\\InprocHandler32", true)) return code;
    return ERROR_SUCCESS;
}

// Once loaded, a server's DllMain and DllGetClassObject have already run in this process: it is judged first.
DWORD ComServerJudgement::JudgeServerKey(const std::wstring& key, bool systemFolderPasses) {
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
        if (const DWORD code = JudgeReading(path, systemFolderPasses)) return code;
    return ERROR_SUCCESS;
}

DWORD ComServerJudgement::JudgeReading(const std::wstring& path, bool systemFolderPasses) {
    // COM may take a file name from between quotes anywhere in the text; what remains of such a text is not judged.
    if (path.find(L'"') != std::wstring::npos) return ERROR_ACCESS_DENIED;
    if (IsBareName(path)) return HasFileExtension(path) ? JudgeBareName(path) : ERROR_ACCESS_DENIED;
    if (!IsExactModulePath(path)) return ERROR_ACCESS_DENIED;
    if ((systemFolderPasses && InSystemFolder(path)) || WasJudged(path)) return ERROR_SUCCESS;
    if (const DWORD code = VerifyModuleTrust(path.c_str())) return code;
    judged_.push_back(path);
    return ERROR_SUCCESS;
}

// Held until this object goes, so that the loader still has the module to hand back when COM asks for the name.
DWORD ComServerJudgement::JudgeBareName(const std::wstring& name) {
    HMODULE found = nullptr;
    if (!GetModuleHandleExW(0, name.c_str(), &found)) return ERROR_ACCESS_DENIED;
    Basalt::LoadedModule module(found);
    if (!InSystemFolder(Basalt::ModuleFilePath(module.Get()))) return ERROR_ACCESS_DENIED;
    platformModules_.push_back(std::move(module));
    return ERROR_SUCCESS;
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

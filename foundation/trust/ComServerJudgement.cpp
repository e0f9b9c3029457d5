#include "foundation/trust/ComServerJudgement.h"

#include <objbase.h>

#include <algorithm>
#include <new>

#include "foundation/basalt/FileHelpers.h"
#include "foundation/basalt/OwnedHandle.h"
#include "foundation/basalt/RegKey.h"
#include "foundation/trust/ModuleTrust.h"

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

bool InSystemFolder(const std::wstring& path) {
    const std::wstring system = SystemFolder();
    const size_t slash = path.find_last_of(L'\\');
    return !system.empty() && slash != std::wstring::npos && SamePath(path.substr(0, slash), system);
}

}  // namespace

DWORD ComServerJudgement::JudgeRegistration(REFCLSID clsid, DWORD context) {
    try {
        CLSID current = clsid;
        for (int hops = 0;; ++hops) {
            if (const DWORD code = JudgeClass(current, context)) return code;
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
    for (const std::wstring& path : readings) {
        if (path.find(L'"') != std::wstring::npos || !Basalt::IsAbsolutePath(path)) return ERROR_ACCESS_DENIED;
        if (WasJudged(path)) continue;
        if (const DWORD code = VerifyModuleTrust(path.c_str())) return code;
        judged_.push_back(path);
    }
    return ERROR_SUCCESS;
}

bool ComServerJudgement::WasJudged(const std::wstring& path) const {
    return std::any_of(judged_.begin(), judged_.end(),
                       [&](const std::wstring& known) { return SamePath(known, path); });
}

DWORD ComServerJudgement::JudgeObject(IUnknown* object) const {
    if (!object) return ERROR_INVALID_PARAMETER;
    try {
        void* const* table = *reinterpret_cast<void* const* const*>(object);
        // The loader's own answer for this process: walking the module list from outside costs tens of
        // milliseconds a call under Wine. The reference keeps the module while its name is read.
        HMODULE holder = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<const wchar_t*>(table[0]),
                                &holder))
            return ERROR_ACCESS_DENIED;  // code in no module
        const Basalt::LoadedModule module(holder);
        // Room for one more character: a name that fills the buffer was cut, and a cut path may name another file.
        wchar_t path[MAX_PATH + 1] = {};
        const DWORD length = GetModuleFileNameW(module.Get(), path, MAX_PATH + 1);
        if (length == 0 || length >= MAX_PATH) return ERROR_ACCESS_DENIED;
        const std::wstring file(path, length);
        if (InSystemFolder(file) || WasJudged(file)) return ERROR_SUCCESS;
        return VerifyModuleTrust(file.c_str());
    } catch (const std::bad_alloc&) {
        return ERROR_ACCESS_DENIED;
    }
}

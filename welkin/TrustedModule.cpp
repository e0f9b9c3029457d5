#include "welkin/TrustedModule.h"

#include "foundation/trust/ModulePath.h"
#include "foundation/trust/ModuleTrust.h"

namespace {

constexpr DWORD kUnhandledException = 574;  // ERROR_UNHANDLED_EXCEPTION

}  // namespace

DWORD LoadTrustedModule(const std::wstring& path, const std::function<HMODULE(const wchar_t*)>& load,
                        HMODULE& module) {
    module = nullptr;
    // A relative path is judged against the current folder but loaded through the search path, and matched by name
    // against any loaded module; a file name without an extension is loaded with ".dll" appended: the file judged
    // must be the file loaded.
    if (!IsExactModulePath(path)) return ERROR_BAD_PATHNAME;
    if (GetModuleHandleExW(0, path.c_str(), &module)) return ERROR_SUCCESS;
    module = nullptr;
    DWORD trust = ERROR_ACCESS_DENIED;
    try {
        trust = VerifyModuleTrust(path.c_str());
    } catch (...) {
        return kUnhandledException;
    }
    if (trust != ERROR_SUCCESS) return trust;
    module = load(path.c_str());
    if (!module) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_MOD_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

#include "clients/support/DllAPI.h"

#include "foundation/logging/LogSite.h"
#include "foundation/trust/ModuleTrust.h"
#include "foundation/trust/TrustedLoading.h"

namespace Orvan {

bool DllAPI::loadLibrary(const std::wstring& path, HMODULE* module) {
    *module = TrustedLoadLibraryEx(path.c_str(), 0);
    if (*module) return true;
    const DWORD error = ::GetLastError();
    LOG_AT(ETWLogging::kSeverityError, L"LoadLibrary Failed. GLE: %lu", error);
    return false;
}

FARPROC DllAPI::getProcAddress(HMODULE module, const char* name) { return ::GetProcAddress(module, name); }

bool DllAPI::verifyModule(const std::wstring& path) {
    return !path.empty() && VerifyModuleTrust(path.c_str()) == 0;
}

bool DllAPI::freeLibrary(HMODULE module) { return ::FreeLibrary(module) != FALSE; }

bool DllAPI::getModuleHandleEx(DWORD flags, const wchar_t* name, HMODULE* module) {
    return ::GetModuleHandleExW(flags, name, module) != FALSE;
}

}  // namespace Orvan

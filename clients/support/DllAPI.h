#pragma once
// The module wrapper of the Orvan libraries. loadLibrary goes through the trusted loading (the file's signature is
// verified before anything of it is mapped): a library that fails the check is never loaded. Tests replace the
// wrapper through the shared pointer the loader takes.
#include <windows.h>

#include <string>

namespace Orvan {

class DllAPI {
public:
    virtual ~DllAPI() = default;

    // TrustedLoadLibraryEx(path, 0). False (and a log line) when it refuses or fails.
    virtual bool loadLibrary(const std::wstring& path, HMODULE* module);
    virtual FARPROC getProcAddress(HMODULE module, const char* name);
    // VerifyModuleTrust(path) == 0; false for an empty path.
    virtual bool verifyModule(const std::wstring& path);
    virtual bool freeLibrary(HMODULE module);
    virtual bool getModuleHandleEx(DWORD flags, const wchar_t* name, HMODULE* module);
};

}  // namespace Orvan

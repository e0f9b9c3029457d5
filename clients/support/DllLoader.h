#pragma once
// The loader layer over DllAPI: a module that is already loaded is shared (its reference count goes up), anything
// else is loaded through DllAPI::loadLibrary; failures and exceptions of the wrapper end in a log line and false
// or null, never in an exception.
#include <windows.h>

#include <memory>
#include <string>

#include "clients/support/DllAPI.h"

namespace Orvan {

class DllLoader {
public:
    explicit DllLoader(std::shared_ptr<DllAPI> api = nullptr);
    virtual ~DllLoader() = default;

    virtual bool loadDLL(const std::wstring& path, HMODULE* module);
    virtual FARPROC getProcAddress(HMODULE module, const char* name);
    virtual bool freeLibrary(HMODULE module);

private:
    std::shared_ptr<DllAPI> api_;
};

}  // namespace Orvan
